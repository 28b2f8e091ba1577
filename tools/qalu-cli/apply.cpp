#include "branches.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "update/price_review.h"
#include "update/report_json.h"
#include "update/run_journal.h"
#include "update/update_session.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <utility>

namespace qalu::cli {

namespace {

const char help[]
    = "Usage: qalu-cli apply --connection CONNECTION-STRING [--decimal-separator C] [--report FILE]\n"
      "                     [--atomic] [--no-journal | --require-journal] [--journal-dir DIR] WORKBOOK\n"
      "       qalu-cli apply --branches FILE [--jobs N] [--branch-timeout SECONDS] [--format text|json]\n"
      "                     [--xlsx FILE] [the options above but --report] WORKBOOK\n"
      "\n"
      "Applies the price list WORKBOOK (.xlsx) to the pharmacy database exactly as the window's\n"
      "update button does: every row below the header updates a medicine's prices by its guid or\n"
      "inserts a new medicine (creating its category when needed); rows after sheet row %1 are\n"
      "not read. Each statement commits by itself, so a failing row leaves the rows before it\n"
      "applied. 'qalu-cli review' shows beforehand what this would do.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --connection CONNECTION-STRING  the ADO-style connection string, e.g.\n"
      "                                  \"Provider=SQLite;Data Source=/path/pharmacy.db\"\n"
      "  --decimal-separator C           the one-character decimal separator of the price texts\n"
      "                                  (default: the locale's, '.' when it is not one character;\n"
      "                                  not a digit, sign, e, E, blank or control character)\n"
      "  --report FILE                   also write the run's report as JSON to FILE: every row\n"
      "                                  below the header with what happened to it, where and why\n"
      "                                  the run stopped, the rows cut off after row %1. FILE is\n"
      "                                  opened before the connection; it may not be WORKBOOK,\n"
      "                                  the database file or an existing non-regular file\n"
      "  --atomic                        run every row in one transaction: every row or none; a\n"
      "                                  failing row rolls the whole list back (exit 3, and the\n"
      "                                  report and journal say rolled_back)\n"
      "  --no-journal                    keep no journal of this run\n"
      "  --require-journal               do not start unless the run's journal can be written\n"
      "                                  ahead (exit 5, no statement sent)\n"
      "  --journal-dir DIR               keep the run's journal in DIR\n"
      "  -h, --help                      show this text\n"
      "  --version                       show the program's version\n"
      "\n"
      "Output (UTF-8, standard output): the one message the window would show; after a\n"
      "connection failure the database's error text follows it. When a row fails, one line\n"
      "'row N: REASON' (N the sheet row) goes to standard error; so does 'row N: guid matches\n"
      "no medicine' for each update row whose guid matched none (the message and exit stay), and\n"
      "'rows %2-N not read: a price list is read up to row %1' when the sheet has more rows.\n"
      "A journal that cannot be written whole is removed and one line says so on standard error;\n"
      "the message and the exit status stay those of the run.\n"
      "Exit status:\n"
      "  0  \"تمت عملية التحديث بنجاح\" (every row applied)\n"
      "  1  connection failure: \"هناك مشكلة بالارتباط بقاعدة البيانات\" and, on the next line,\n"
      "     the database's error text, both on standard output\n"
      "  2  \"حدث خطأ بتحميل الاسعار من الموقع\" (the workbook could not be read; database untouched;\n"
      "     the reason on one line of standard error)\n"
      "  3  \"لم يتم تحديث جميع الاسعار بطريقة صحيحة ..يرجى اعادة التحديث\" (a row failed; the rows\n"
      "     before it stay applied, or with --atomic none does)\n"
      "  5  the --report FILE could not be written (one line on standard error): when it cannot\n"
      "     be opened, before the connection, with nothing on standard output and the database\n"
      "     untouched; when only its final write fails, after the run's message above. Or, with\n"
      "     --require-journal, the journal could not be written ahead: nothing on standard\n"
      "     output, one line on standard error, no row statement sent\n"
      "\n"
      "With --branches FILE instead of --connection: every database FILE names, each in a process\n"
      "of its own (FILE: NAME<TAB>CONNECTION-STRING lines, # comments; names unique, at most 31\n"
      "characters, none of []:*?/\\, not 'summary'). The workbook is read once;\n"
      "each branch keeps its own journal. --report does not go with --branches.\n"
      "  --jobs N                        branches at a time, 1 to 64 (default 4)\n"
      "  --branch-timeout SECONDS        a branch's time limit, 1 to 86400 (default 600); a branch\n"
      "                                  still going is ended (its journal stays)\n"
      "  --format text|json              the combined register: a line per branch, or one JSON\n"
      "                                  document with each branch's own report\n"
      "  --xlsx FILE                     also a workbook: a summary sheet, a sheet per branch\n"
      "Exit status with --branches: 2 the workbook cannot be read (no branch touched), else the\n"
      "most serious branch's: 3 (stopped part-way, or ended after sending statements), 1\n"
      "(unreachable, or ended before), 5, 4, 0; other statuses count as 3 after statements were\n"
      "sent, else as 1; an --xlsx FILE that cannot be written counts as 5.\n"
      "  64 usage error: nothing on standard output, one line on standard error\n";

bool reportFailed(const QSaveFile &file)
{
    printLine(stderr,
        QStringLiteral("qalu-cli apply: cannot write the report '%1': %2")
            .arg(file.fileName(), file.errorString()));
    return false;
}

// Writes the report whole or not at all into a file opened before the run. Returns false after a
// line on standard error.
bool writeReport(QSaveFile &file, const update::UpdateReport &report)
{
    file.write(QJsonDocument(update::reportToJson(report)).toJson(QJsonDocument::Indented));
    return file.commit() || reportFailed(file);
}

} // namespace

int applyDatabase(const ApplyJob &job, const TStringGrid *grid, FILE *messages,
    std::optional<update::UpdateReport> *reportOut, const SendingNotice &sending)
{
    // The window's components, in the window's order: the connection opened as at show time, then
    // the grid and the five query objects on it.
    update::UpdateSession session;
    try {
        session.open(job.connection);
    } catch (...) {
        return connectionFailure(std::current_exception(), messages);
    }

    update::UpdateRun::Steps steps = session.steps(job.workbook, job.separator, grid);
    if (sending)
        steps.BeforeRow = [&sending, told = false](const TStringGrid &, int) mutable {
            if (!std::exchange(told, true))
                sending();
        };
    QString journalFailure;
    std::optional<update::PriceSnapshot> oldPrices;
    update::UpdateReport report;
    try {
        report = session.run(job.workbook, job.separator, std::move(steps),
            job.noJournal ? std::nullopt : std::optional<QString>(job.journalDir), &journalFailure,
            job.requireJournal, job.atomic, &oldPrices);
    } catch (const update::JournalRefused &refused) {
        printLine(stderr,
            QStringLiteral("qalu-cli apply: not started, the journal cannot be written: ")
                + oneLine(refused.reason));
        return 5;
    }
    if (oldPrices) {
        // After the run, and never the window's: the report's changed read from the database.
        try {
            update::markChanged(session.ADOConnection1, *oldPrices, report);
        } catch (...) {
            printLine(stderr,
                QStringLiteral("qalu-cli apply: the report cannot tell which prices changed: ")
                    + oneLine(failureText(std::current_exception())));
        }
    }
    printLine(messages, update::updateMessage(report.outcome));
    if (report.outcome == update::UpdateOutcome::ReadFailed)
        printLine(stderr, QStringLiteral("qalu-cli apply: ") + oneLine(report.readFailure));
    if (report.dropped)
        printLine(stderr,
            QStringLiteral("rows %1-%2 not read: a price list is read up to row %3")
                .arg(report.dropped->first)
                .arg(report.dropped->last)
                .arg(update::rowCap));
    for (const update::RowReport &row : report.rows)
        if (row.matched == 0)
            printLine(stderr, QStringLiteral("row %1: guid matches no medicine").arg(row.sheetRow));
    if (report.stop)
        printLine(stderr,
            QStringLiteral("row %1: %2").arg(report.stop->sheetRow).arg(oneLine(report.stop->reason)));
    if (!journalFailure.isEmpty())
        printLine(stderr, QStringLiteral("qalu-cli apply: no journal of this run: ") + journalFailure);
    const update::UpdateOutcome outcome = report.outcome;
    *reportOut = std::move(report);
    switch (outcome) {
    case update::UpdateOutcome::Completed:
        return 0;
    case update::UpdateOutcome::ReadFailed:
        return 2;
    case update::UpdateOutcome::RowFailed:
        break;
    }
    return 3;
}

int runApply(const QStringList &args)
{
    CommandLine line("apply", QString::fromUtf8(help).arg(update::rowCap).arg(update::rowCap + 1));
    line.takeConnection();
    line.takeDecimalSeparator();
    line.takeJournalDir();
    const QCommandLineOption reportOption = line.addValue("report", "FILE");
    const QCommandLineOption noJournal = line.addFlag("no-journal");
    const QCommandLineOption atomic = line.addFlag("atomic");
    const QCommandLineOption requireJournal = line.addFlag("require-journal");
    const BranchOptions branchOptions = takeBranchOptions(line, true);
    if (const std::optional<int> done = line.parse(args))
        return *done;
    if (line.isSet(noJournal) && line.isSet(requireJournal))
        return line.usageError(QStringLiteral("--no-journal and --require-journal exclude each other"));
    ApplyJob job;
    job.separator = line.decimalSeparator().value_or(systemDecimalSeparator());
    job.journalDir = line.journalDir();
    job.noJournal = line.isSet(noJournal);
    job.requireJournal = line.isSet(requireJournal);
    job.atomic = line.isSet(atomic);
    if (line.isSet(branchOptions.branches)) {
        // The combined register replaces each run's report file.
        if (line.isSet(reportOption))
            return line.usageError(
                QStringLiteral("'--report' does not go with --branches (use --format json for the reports)"));
        job.workbook = line.onePositional("WORKBOOK");
        return runBranches(line, branchOptions,
            { "apply", job.workbook, job.separator,
                QJsonObject { { QStringLiteral("journal_dir"), job.journalDir },
                    { QStringLiteral("no_journal"), job.noJournal },
                    { QStringLiteral("require_journal"), job.requireJournal },
                    { QStringLiteral("atomic"), job.atomic } } });
    }
    rejectBranchOptions(line, branchOptions);
    job.connection = line.connection();
    const QString reportPath = line.single(reportOption).value_or(QString());
    job.workbook = line.onePositional("WORKBOOK");
    line.checkOutputFile("report", reportPath, job.workbook, job.connection);
    if (const std::optional<int> error = line.error())
        return *error;
    line.logStart(job.connection, job.separator);

    // A report that cannot be opened is found before the database is touched.
    QSaveFile reportFile(reportPath);
    if (!reportPath.isEmpty() && !reportFile.open(QIODevice::WriteOnly)) {
        reportFailed(reportFile);
        return 5;
    }
    std::optional<update::UpdateReport> report;
    const int status = applyDatabase(job, nullptr, stdout, &report);
    if (report && !reportPath.isEmpty() && !writeReport(reportFile, *report))
        return 5;
    return status;
}

} // namespace qalu::cli
