#include "command.h"

#include "core/failure.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "update/report_json.h"
#include "update/run_journal.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace qalu::cli {

namespace {

const char help[]
    = "Usage: qalu-cli journal [--journal-dir DIR] [--connection CONNECTION-STRING]\n"
      "                       [--format text|json]\n"
      "       qalu-cli journal show [--journal-dir DIR] [--connection CONNECTION-STRING]\n"
      "                       [--format text|json] RUN\n"
      "\n"
      "Every run of the window and of 'qalu-cli apply' keeps a journal, written before its first\n"
      "row statement and flushed to disk: the prices it is about to overwrite, the prices each row\n"
      "is about to write, the workbook's hash and the database's identity; it is completed with\n"
      "what the run did with each row when the run ends. The newest %1 of each database are kept,\n"
      "one JSON file per run named by its UTC time and a short hash of its database.\n"
      "Without 'show', lists the journals, newest first: time, outcome (completed, read-failed,\n"
      "row-failed; running while its run goes; interrupted when its run was cut off), medicines\n"
      "whose stored prices the run changed, medicines it inserted, workbook, database, file.\n"
      "Only regular files of at most %2 MiB are read; other entries are listed as skipped, with\n"
      "the reason. 'show RUN' prints one run's journal (RUN is a file, a file name in the folder,\n"
      "or 'latest').\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --journal-dir DIR    the journals' folder (default: the program's data folder); it must\n"
      "                       exist\n"
      "  --connection CONNECTION-STRING\n"
      "                       only the journals of this database ('latest': its newest)\n"
      "  --format text|json   aligned text lines (default) or JSON (show: the journal itself)\n"
      "  -h, --help           show this text\n"
      "  --version            show the program's version\n"
      "\n"
      "Exit status:\n"
      "  0  listed or shown (a journal that cannot be read is listed as unreadable)\n"
      "  1  connection failure (with --connection), printed as restore prints it\n"
      "  2  the journal RUN cannot be found or read, or the --journal-dir folder does not\n"
      "     exist (the reason on standard error)\n"
      "  64 usage error: nothing on standard output, one line on standard error\n";

int showRun(const QString &folder, const QString &run, const QString &database, OutputFormat format)
{
    update::Journal j;
    try {
        j = update::readJournal(update::findJournal(folder, run, database));
    } catch (const BadInput &problem) {
        printLine(stderr, QStringLiteral("qalu-cli journal: ") + problem.text());
        return 2;
    }
    // Journals written before credentials were taken out whole may hold a password's tail.
    j.database = db::withoutCredentials(j.database);
    if (format == OutputFormat::Json) {
        if (j.document.contains(QStringLiteral("database")))
            j.document.insert(QStringLiteral("database"), j.database);
        std::fputs(QJsonDocument(j.document).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }
    printLine(stdout, QStringLiteral("journal   %1").arg(j.file));
    printLine(stdout, QStringLiteral("time      %1").arg(j.time));
    printLine(stdout,
        QStringLiteral("workbook  %1%2")
            .arg(j.workbook,
                j.workbookSha256.isEmpty() ? QString()
                                           : QStringLiteral(" (sha256 %1)").arg(j.workbookSha256)));
    printLine(stdout, QStringLiteral("database  %1").arg(j.database));
    if (!j.identity.isEmpty())
        printLine(stdout, QStringLiteral("identity  %1").arg(j.identity));
    printLine(stdout, QStringLiteral("outcome   %1").arg(j.outcome));
    const QJsonObject report = j.document.value(QStringLiteral("report")).toObject();
    const QJsonValue stop = report.value(QStringLiteral("stop"));
    if (stop.isObject())
        printLine(stdout,
            QStringLiteral("stopped   row %1: %2")
                .arg(stop[QStringLiteral("sheet_row")].toInt())
                .arg(stop[QStringLiteral("reason")].toString()));
    printLine(stdout,
        QStringLiteral("changed   %1 medicines (salp price1 salp2 price2, old -> new):")
            .arg(update::changedCount(j)));
    for (const update::JournalChange &c : j.changes)
        printLine(
            stdout, QStringLiteral("  %1  %2 -> %3").arg(c.guid, pricesText(c.old), pricesText(c.written)));
    printLine(stdout, QStringLiteral("inserted  %1 medicines:").arg(j.inserts.size()));
    for (const update::JournalInsert &i : j.inserts)
        printLine(stdout, QStringLiteral("  MatNum %1  %2").arg(i.matNum).arg(i.name));
    if (!j.newCategories.isEmpty())
        printLine(
            stdout, QStringLiteral("new categories: %1").arg(j.newCategories.join(QStringLiteral(", "))));
    return 0;
}

} // namespace

int runJournal(const QStringList &args)
{
    CommandLine line("journal",
        QString::fromUtf8(help).arg(update::journalsKept).arg(update::journalSizeCap / (1024 * 1024)));
    line.takeJournalDir();
    line.takeFormat();
    const QCommandLineOption connectionOption = line.addValue("connection", "CONNECTION-STRING");
    if (const std::optional<int> done = line.parse(args))
        return *done;
    const QString journalDir = line.journalDir();
    const std::optional<QString> connectionString = line.single(connectionOption);
    const OutputFormat format = line.format();
    if (const std::optional<int> error = line.error())
        return *error;
    const QStringList positional = line.positional();
    if (!positional.isEmpty() && positional.constFirst() != u"show")
        return line.usageError(QStringLiteral("unknown subcommand '%1'").arg(positional.constFirst()));
    if (!positional.isEmpty() && (positional.size() != 2 || positional.constLast().isEmpty()))
        return line.usageError(QStringLiteral("'show' takes exactly one RUN"));

    if (!journalDir.isEmpty() && !QFileInfo(journalDir).isDir()) {
        printLine(stderr,
            QStringLiteral("qalu-cli journal: the journal folder '%1' does not exist").arg(journalDir));
        return 2;
    }
    QString database;
    if (connectionString) {
        db::TConnection connection;
        try {
            connection.setConnectionString(*connectionString);
            connection.Open();
        } catch (...) {
            return connectionFailure(std::current_exception());
        }
        // A database that cannot name itself matches no journal.
        database = connection.identity();
        if (database.isEmpty())
            database = QStringLiteral("?");
    }

    const QString folder = journalDir.isEmpty() ? update::defaultJournalFolder() : journalDir;
    if (!positional.isEmpty())
        return showRun(folder, positional.constLast(), database, format);
    QList<update::JournalFile> files = update::journalFolderEntries(folder);
    std::reverse(files.begin(), files.end());
    QJsonArray list;
    int listed = 0;
    for (const update::JournalFile &file : std::as_const(files)) {
        const QString name = QFileInfo(file.path).fileName();
        if (!file.skipped.isEmpty()) {
            ++listed;
            if (format == OutputFormat::Json)
                list.append(QJsonObject {
                    { QStringLiteral("file"), name }, { QStringLiteral("skipped"), file.skipped } });
            else
                printLine(stdout, QStringLiteral("%1  %2").arg(name, file.skipped));
            continue;
        }
        try {
            const update::Journal j = update::readJournal(file.path);
            if (!database.isEmpty() && j.identity != database)
                continue;
            ++listed;
            if (format == OutputFormat::Json) {
                list.append(update::journalEntryJson(name, j));
            } else {
                printLine(stdout,
                    QStringLiteral("%1  %2  %3 changed  %4 inserted  %5  %6  %7")
                        .arg(j.time, j.outcome.leftJustified(11))
                        .arg(update::changedCount(j), 4)
                        .arg(j.inserts.size(), 4)
                        .arg(j.workbook,
                            j.identity.isEmpty() ? db::withoutCredentials(j.database) : j.identity, name));
            }
        } catch (const BadInput &problem) {
            ++listed;
            if (format == OutputFormat::Json)
                list.append(update::unreadableJournalJson(name, problem.text()));
            else
                printLine(stdout, QStringLiteral("%1  unreadable: %2").arg(name, problem.text()));
        }
    }
    if (format == OutputFormat::Json)
        std::fputs(QJsonDocument(list).toJson(QJsonDocument::Indented).constData(), stdout);
    else if (listed == 0)
        printLine(stdout, QStringLiteral("no journals in %1").arg(folder));
    return 0;
}

} // namespace qalu::cli
