#include "command.h"

#include "core/decimal_separator.h"
#include "update/report_json.h"
#include "update/run_journal.h"
#include "update/update_session.h"

#include <QJsonDocument>
#include <QSaveFile>

namespace qalu::cli {

namespace {

const char help[]
    = "Usage: qalu-cli apply --connection CONNECTION-STRING [--decimal-separator C] [--report FILE]\n"
      "                     [--no-journal | --require-journal] [--journal-dir DIR] WORKBOOK\n"
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
      "                                  (default: the locale's, '.' when it is not one character)\n"
      "  --report FILE                   also write the run's report as JSON to FILE: every row\n"
      "                                  below the header with what happened to it, where and why\n"
      "                                  the run stopped, the rows cut off after row %1\n"
      "  --no-journal                    keep no journal of this run\n"
      "  --require-journal               do not start unless the run's journal can be written\n"
      "                                  ahead (exit 5, no statement sent)\n"
      "  --journal-dir DIR               keep the run's journal in DIR\n"
      "  -h, --help                      show this text\n"
      "  --version                       show the program's version\n"
      "\n"
      "Output (UTF-8, standard output): the one message the window would show; after a\n"
      "connection failure the database's error text follows it. When a row fails, one line\n"
      "'row N: REASON' (N the sheet row) goes to standard error. A journal that cannot be\n"
      "written whole is removed and one line says so on standard error; the message and the\n"
      "exit status stay those of the run.\n"
      "Exit status:\n"
      "  0  \"تمت عملية التحديث بنجاح\" (every row applied)\n"
      "  1  connection failure: \"هناك مشكلة بالارتباط بقاعدة البيانات\" and, on the next line,\n"
      "     the database's error text, both on standard output\n"
      "  2  \"حدث خطأ بتحميل الاسعار من الموقع\" (the workbook could not be read; database untouched)\n"
      "  3  \"لم يتم تحديث جميع الاسعار بطريقة صحيحة ..يرجى اعادة التحديث\" (a row failed; the rows\n"
      "     before it stay applied)\n"
      "  5  the run ended as above but the --report FILE could not be written (one line on\n"
      "     standard error); or, with --require-journal, the journal could not be written\n"
      "     ahead: nothing on standard output, one line on standard error, no row statement\n"
      "     sent\n"
      "  64 usage error: nothing on standard output, one line on standard error\n";

// Writes the report whole or not at all. Returns false after a line on standard error.
bool writeReport(const QString &path, const update::UpdateReport &report)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(update::reportToJson(report)).toJson(QJsonDocument::Indented));
        if (file.commit())
            return true;
    }
    printLine(stderr,
        QStringLiteral("qalu-cli apply: cannot write the report '%1': %2").arg(path, file.errorString()));
    return false;
}

} // namespace

int runApply(const QStringList &args)
{
    CommandLine line("apply", QString::fromUtf8(help).arg(update::rowCap));
    line.takeConnection();
    line.takeDecimalSeparator();
    line.takeJournalDir();
    const QCommandLineOption reportOption = line.addValue("report", "FILE");
    const QCommandLineOption noJournal = line.addFlag("no-journal");
    const QCommandLineOption requireJournal = line.addFlag("require-journal");
    if (const std::optional<int> done = line.parse(args))
        return *done;
    const QString connection = line.connection();
    const QChar separator = line.decimalSeparator().value_or(systemDecimalSeparator());
    const QString reportPath = line.single(reportOption).value_or(QString());
    const QString journalDir = line.journalDir();
    const QString workbook = line.onePositional("WORKBOOK");
    if (const std::optional<int> error = line.error())
        return *error;
    if (line.isSet(noJournal) && line.isSet(requireJournal))
        return line.usageError(QStringLiteral("--no-journal and --require-journal exclude each other"));

    // The window's components, in the window's order: the connection opened as at show time, then
    // the grid and the five query objects on it.
    update::UpdateSession session;
    try {
        session.open(connection);
    } catch (...) {
        return connectionFailure(std::current_exception());
    }

    QString journalFailure;
    update::UpdateReport report;
    try {
        report = session.run(workbook, separator, session.steps(workbook, separator),
            line.isSet(noJournal) ? std::nullopt : std::optional<QString>(journalDir), &journalFailure,
            line.isSet(requireJournal));
    } catch (const update::JournalRefused &refused) {
        printLine(stderr,
            QStringLiteral("qalu-cli apply: not started, the journal cannot be written: ")
                + oneLine(refused.reason));
        return 5;
    }
    printLine(stdout, update::updateMessage(report.outcome));
    if (report.stop)
        printLine(stderr,
            QStringLiteral("row %1: %2").arg(report.stop->sheetRow).arg(oneLine(report.stop->reason)));
    if (!journalFailure.isEmpty())
        printLine(stderr, QStringLiteral("qalu-cli apply: no journal of this run: ") + journalFailure);
    if (!reportPath.isEmpty() && !writeReport(reportPath, report))
        return 5;
    switch (report.outcome) {
    case update::UpdateOutcome::Completed:
        return 0;
    case update::UpdateOutcome::ReadFailed:
        return 2;
    case update::UpdateOutcome::RowFailed:
        break;
    }
    return 3;
}

} // namespace qalu::cli
