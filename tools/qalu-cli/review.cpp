#include "branches.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "core/run_log.h"
#include "db/connection.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"
#include "review_register.h"
#include "update/price_review.h"
#include "update/report_json.h"
#include "update/update_session.h"

#include <QJsonObject>

#include <cmath>

namespace qalu::cli {

namespace {

constexpr int exitCompletes = 0;
constexpr int exitUnreadable = 2;
constexpr int exitStops = 3;
constexpr int exitLook = 4;
// The register was printed but the --xlsx file could not be written (BSD's EX_CANTCREAT).
constexpr int exitCannotWrite = 73;

const char help[]
    = "Usage: qalu-cli review --connection CONNECTION-STRING [--decimal-separator C]\n"
      "                       [--format text|json] [--xlsx FILE] [--change-limit PERCENT] [--trial]\n"
      "                       WORKBOOK\n"
      "       qalu-cli review --branches FILE [--jobs N] [--branch-timeout SECONDS] [--format text|json]\n"
      "                       [--xlsx FILE] [the options above] WORKBOOK\n"
      "\n"
      "Reads the price list WORKBOOK exactly as 'qalu-cli apply' and the window do (same reader,\n"
      "rows after sheet row %2 dropped) and tells, row by row, what applying it would do, without\n"
      "writing anything: only SELECT statements reach the database (a SQLite file is opened\n"
      "read-only; --trial aside) and no file is written but the one --xlsx names.\n"
      "\n"
      "What each visited row would do:\n"
      "  change        an update row: the medicine's name and four prices, old -> new\n"
      "  same          an update row whose four prices are already the database's\n"
      "  unknown-guid  an update row whose guid matches no medicine: the run changes nothing and\n"
      "                says nothing\n"
      "  insert        an insert row: a new medicine, its MatNum, name and category (existing,\n"
      "                or new: created by this row)\n"
      "  duplicate     an insert row whose MatNum a medicine already has (the list was applied\n"
      "                before; that medicine's name is shown): the run would insert it again\n"
      "  fails         the run would stop here: the cell, its text and the rule it breaks\n"
      "  not-reached   a row after the one that fails\n"
      "Marks on rows that would be applied:\n"
      "  to-zero       an empty price cell would overwrite a non-zero price with 0\n"
      "  large-change  a price moves by more than PERCENT of the old one (old prices of 0 aside)\n"
      "  same-name     a new medicine whose name a medicine already has\n"
      "  repeated      an update row whose guid an earlier row has: it is compared with the\n"
      "                prices that earlier row writes\n"
      "  blank-row     an insert row with every cell empty: a nameless medicine in a nameless\n"
      "                category\n"
      "  empty-price   an insert row with an empty price cell: the new medicine costs 0\n"
      "Rows are taken in order, so a later row sees what earlier rows write. 'same' is decided\n"
      "by the database, comparing each price column with the new value. Category names compare\n"
      "without case, as the name column does; a collation that also ignores accents (Arabic\n"
      "_AI) can still join names this prediction keeps apart. The database may still refuse a\n"
      "statement the review cannot foresee (triggers, constraints, permissions, text too long\n"
      "for a column): the review predicts only what the workbook and the rows already in the\n"
      "database decide.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --connection CONNECTION-STRING  the ADO-style connection string, as for apply\n"
      "  --decimal-separator C           the one-character decimal separator of the price texts\n"
      "                                  (default: the locale's, '.' when it is not one character;\n"
      "                                  not a digit, sign, e, E, blank or control character)\n"
      "  --format text|json              the register as aligned text lines (default) or as one\n"
      "                                  JSON document\n"
      "  --xlsx FILE                     also write the register as a workbook to FILE (not\n"
      "                                  WORKBOOK, the database file or a non-regular file)\n"
      "  --change-limit PERCENT          the limit of large-change (default %1)\n"
      "  --trial                         the exact answer: run the very statements apply would\n"
      "                                  send (categories created as apply creates them) in one\n"
      "                                  transaction that is rolled back, and fill the register\n"
      "                                  from what the database did (triggers, constraints,\n"
      "                                  collations included). Nothing stays changed, but the\n"
      "                                  trial holds its locks on the medicines table for the\n"
      "                                  length of the list, and on PostgreSQL identity and\n"
      "                                  sequence values taken by the rolled-back inserts stay\n"
      "                                  taken\n"
      "  -h, --help                      show this text\n"
      "  --version                       show the program's version\n"
      "\n"
      "Exit status (the first that applies of 64, 1, 2, 3, 73, 4, 0):\n"
      "  0  the run would complete and nothing needs a look\n"
      "  4  the run would complete, but something needs a look (an unknown guid, a duplicate,\n"
      "     dropped rows, a marked row)\n"
      "  3  the run would stop at a row\n"
      "  2  \"حدث خطأ بتحميل الاسعار من الموقع\" (the workbook could not be read), the reason on\n"
      "     the next line, both on standard output\n"
      "  1  connection failure, printed as apply prints it\n"
      "  73 the register was printed but FILE of --xlsx could not be written (the reason on\n"
      "     standard error)\n"
      "\n"
      "With --branches FILE instead of --connection: every database FILE names, each in a process\n"
      "of its own (FILE: NAME<TAB>CONNECTION-STRING lines, # comments; names unique, at most 31\n"
      "characters, none of []:*?/\\, not 'summary'). The workbook is read once;\n"
      "only --trial sends statements that write.\n"
      "  --jobs N                        branches at a time, 1 to 64 (default 4)\n"
      "  --branch-timeout SECONDS        a branch's time limit, 1 to 86400 (default 600); a branch\n"
      "                                  still going is ended (its journal stays)\n"
      "  --format text|json              the combined register: a line per branch, or one JSON\n"
      "                                  document with each branch's own review document\n"
      "  --xlsx FILE                     also a workbook: a summary sheet, a sheet per branch\n"
      "Exit status with --branches: 2 the workbook cannot be read (no branch touched), else the\n"
      "most serious branch's: 3 (stopped part-way, or ended after sending statements), 1\n"
      "(unreachable, or ended before), 5, 4, 0; other statuses count as 3 after statements were\n"
      "sent, else as 1; an --xlsx FILE that cannot be written counts as 5.\n"
      "  64 usage error: nothing on standard output, one line on standard error\n";

// The ODBC driver also warns about every statement the database refuses; the register names
// the refusal already, so the warning would only repeat it.
void quietDriverWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!runlog::passOn(type, context, message))
        return;
    if (type == QtWarningMsg && message.startsWith(QLatin1StringView("QODBC")))
        return;
    printLine(stderr, qFormatLogMessage(type, context, message));
}

} // namespace

int reviewDatabase(const ReviewJob &job, const TStringGrid *preRead, FILE *messages,
    update::ReviewResult *result, const SendingNotice &sending)
{
    const auto unreadable = [messages](const QString &reason) {
        printLine(messages, update::updateMessage(update::UpdateOutcome::ReadFailed));
        printLine(messages, oneLine(reason));
        return exitUnreadable;
    };
    if (job.trial) {
        update::UpdateSession session;
        QString readFailure;
        try {
            session.open(job.connection);
            if (sending)
                sending();
            *result = update::trialReview(
                session, job.workbook, job.separator, job.changeLimit, &readFailure, preRead);
        } catch (...) {
            return connectionFailure(std::current_exception(), messages);
        }
        if (!readFailure.isEmpty())
            return unreadable(readFailure);
    } else {
        // As apply: the connection first, then the workbook.
        db::TConnection connection;
        connection.setReadOnly(true);
        try {
            connection.setConnectionString(job.connection);
            connection.Open();
        } catch (...) {
            return connectionFailure(std::current_exception(), messages);
        }

        TStringGrid grid;
        if (preRead) {
            grid = *preRead;
        } else {
            try {
                ClearGrid(grid);
                LoadWorkbookToGrid(grid, job.workbook, job.separator);
            } catch (...) {
                return unreadable(failureText(std::current_exception()));
            }
        }

        if (sending)
            sending();
        update::PriceReview review(connection, job.changeLimit);
        *result = review.review(grid, job.separator);
        connection.Close();
    }
    QStringList counts;
    for (int s = 0; s < update::reviewStatusCount; ++s)
        if (const int n = result->count(update::ReviewStatus(s)))
            counts << QStringLiteral("%1 %2").arg(n).arg(update::reviewStatusName(update::ReviewStatus(s)));
    const QString logLine
        = QStringLiteral("review%1 of %2 rows: %3")
              .arg(job.trial ? QStringLiteral(" (trial)") : QString())
              .arg(result->rows.size())
              .arg(counts.isEmpty() ? QStringLiteral("nothing") : counts.join(QStringLiteral(", ")));
    if (result->stop)
        runlog::warning(logLine + QStringLiteral("; stops at row %1").arg(result->stop->sheetRow));
    else
        runlog::info(logLine);
    if (result->stop)
        return exitStops;
    return result->needsLook() ? exitLook : exitCompletes;
}

int runReview(const QStringList &args)
{
    CommandLine line("review", QString::fromUtf8(help).arg(update::defaultChangeLimit).arg(update::rowCap));
    line.takeConnection();
    line.takeDecimalSeparator();
    line.takeFormat();
    const QCommandLineOption xlsxOption = line.addValue("xlsx", "FILE");
    const QCommandLineOption changeLimitOption = line.addValue("change-limit", "PERCENT");
    const QCommandLineOption trialOption = line.addFlag("trial");
    BranchOptions branchOptions = takeBranchOptions(line, false);
    branchOptions.xlsx = xlsxOption;
    if (const std::optional<int> done = line.parse(args))
        return *done;
    ReviewJob job;
    job.separator = line.decimalSeparator().value_or(systemDecimalSeparator());
    const OutputFormat format = line.format();
    const QString xlsx = line.single(xlsxOption).value_or(QString());
    if (line.isSet(xlsxOption) && xlsx.isEmpty())
        line.usageError(QStringLiteral("'--xlsx' needs a file name"));
    job.changeLimit = update::defaultChangeLimit;
    if (!line.isSet(changeLimitOption) && line.settings().isSet(Settings::ChangeLimit))
        job.changeLimit = line.settings().value(Settings::ChangeLimit).toDouble();
    if (const std::optional<QString> value = line.single(changeLimitOption)) {
        bool ok = false;
        const double percent = value->trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(percent) || percent < 0)
            line.usageError(
                QStringLiteral("'--change-limit' is a percentage of 0 or more, not '%1'").arg(*value));
        else
            job.changeLimit = percent;
    }
    job.trial = line.isSet(trialOption);
    job.workbook = line.onePositional("WORKBOOK");
    if (line.isSet(branchOptions.branches))
        return runBranches(line, branchOptions,
            { "review", job.workbook, job.separator,
                QJsonObject { { QStringLiteral("change_limit"), job.changeLimit },
                    { QStringLiteral("trial"), job.trial } } });
    rejectBranchOptions(line, branchOptions);
    job.connection = line.connection();
    line.checkOutputFile("xlsx", xlsx, job.workbook, job.connection);
    if (const std::optional<int> error = line.error())
        return *error;
    line.logStart(job.connection, job.separator);

    qInstallMessageHandler(quietDriverWarnings);
    update::ReviewResult result;
    const int status = reviewDatabase(job, nullptr, stdout, &result);
    if (status == exitConnection || status == exitUnreadable)
        return status;

    if (format == OutputFormat::Json)
        printJsonLine(stdout, update::reviewToJson(job.workbook, result));
    else
        printReviewText(job.workbook, result);

    if (!xlsx.isEmpty()) {
        const QString error = writeReviewXlsx(xlsx, job.workbook, result);
        if (!error.isEmpty()) {
            printLine(stderr, QStringLiteral("qalu-cli review: cannot write %1: %2").arg(xlsx, error));
            // A stop outranks the register file: it is what the pharmacist must not miss.
            return result.stop ? exitStops : exitCannotWrite;
        }
    }
    return status;
}

void quietReviewWarnings()
{
    qInstallMessageHandler(quietDriverWarnings);
}

} // namespace qalu::cli
