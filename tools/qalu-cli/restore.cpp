#include "branches.h"

#include "core/decimal_separator.h"
#include "core/failure.h"
#include "core/failure_text.h"
#include "core/run_log.h"
#include "db/connection.h"
#include "update/journal_restore.h"
#include "update/report_json.h"

#include <QJsonArray>
#include <QJsonObject>

namespace qalu::cli {

namespace {

const char help[]
    = "Usage: qalu-cli restore --connection CONNECTION-STRING [--dry-run] [--force]\n"
      "                       [--other-database] [--journal-dir DIR] JOURNAL\n"
      "       qalu-cli restore --branches FILE [--jobs N] [--branch-timeout SECONDS]\n"
      "                       [--format text|json] [--xlsx FILE] [the options above] JOURNAL\n"
      "\n"
      "Puts back the four prices (salp, price1, salp2, price2) that a run overwrote, from the run's\n"
      "journal, in one transaction: all of them or none. JOURNAL is a file, a file name in the\n"
      "journal folder ('qalu-cli journal' lists them), or 'latest' (the newest journal of the\n"
      "database CONNECTION-STRING names).\n"
      "The database decides, comparing each stored price with the journal's in the column's own\n"
      "type, whether a medicine is already back or still holds what the run wrote. A medicine\n"
      "holding anything else (someone changed it since) is left alone and reported, unless\n"
      "--force. A run that was cut off (interrupted) is restored too: a medicine holding what some\n"
      "row of the list was about to write gets its old prices back. A run still going is refused.\n"
      "A journal of another database is refused unless --other-database; so is a journal of the\n"
      "first format, which does not record its database. Medicines the run inserted and\n"
      "categories it created are listed, never deleted. Rows the run did not apply are not\n"
      "touched.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --connection CONNECTION-STRING  the database, as for apply\n"
      "  --dry-run                       print what would be done, write nothing\n"
      "  --force                         put back the old prices even where they changed since\n"
      "  --other-database                restore a journal recorded on another database (or one\n"
      "                                  that does not say which)\n"
      "  --journal-dir DIR               the journal folder (default: the program's data folder)\n"
      "  -h, --help                      show this text\n"
      "  --version                       show the program's version\n"
      "\n"
      "Output (standard output): one line per medicine (restored, already back, left alone),\n"
      "the inserted medicines and created categories, then the three counts.\n"
      "Exit status:\n"
      "  0  every changed medicine has its old prices back (or would have, with --dry-run)\n"
      "  4  restored, but some medicines were left alone\n"
      "  1  connection failure, printed as apply prints it\n"
      "  2  the journal cannot be read, is malformed, lacks old prices, belongs to a run still\n"
      "     going or to another database, or names a medicine this database does not have\n"
      "     (the reason on standard error; nothing changed)\n"
      "  3  the database refused the restore (its reason on standard error; nothing changed)\n"
      "\n"
      "With --branches FILE instead of --connection: every database FILE names, each in a process\n"
      "of its own (FILE: NAME<TAB>CONNECTION-STRING lines, # comments; names unique, at most 31\n"
      "characters, none of []:*?/\\, not 'summary'). 'latest' is each\n"
      "branch's own newest journal.\n"
      "  --jobs N                        branches at a time, 1 to 64 (default 4)\n"
      "  --branch-timeout SECONDS        a branch's time limit, 1 to 86400 (default 600); a branch\n"
      "                                  still going is ended (its journal stays)\n"
      "  --format text|json              the combined register: a line per branch, or one JSON\n"
      "                                  document with each branch's own restore document (JSON)\n"
      "  --xlsx FILE                     also a workbook: a summary sheet, a sheet per branch\n"
      "Exit status with --branches: the most serious branch's: 3 (stopped part-way, or ended\n"
      "after sending statements), 1 (unreachable, or ended before), 5, 4, 0; other statuses\n"
      "(2: no usable journal) count as 3 after statements were sent, else as 1; an --xlsx FILE\n"
      "that cannot be written counts as 5.\n"
      "  64 usage error: nothing on standard output, one line on standard error\n";

} // namespace

namespace {

QJsonArray pricesJson(const update::Prices &prices)
{
    QJsonArray a;
    for (double price : prices)
        a.append(price);
    return a;
}

const char *stateName(update::RestoreState state)
{
    switch (state) {
    case update::RestoreState::Restored:
        return "restored";
    case update::RestoreState::Forced:
        return "forced";
    case update::RestoreState::AlreadyOld:
        return "already-back";
    case update::RestoreState::LeftAlone:
        break;
    }
    return "left-alone";
}

} // namespace

int restoreDatabase(
    const RestoreJob &job, FILE *text, FILE *messages, QJsonObject *document, const SendingNotice &sending)
{
    const bool dry = job.dryRun;
    const QString folder = job.journalDir.isEmpty() ? update::defaultJournalFolder() : job.journalDir;
    // 'latest' is the newest journal of this database, so the database is asked first there.
    const bool latest = job.journal == u"latest";
    update::Journal journal;
    const auto read = [&](const QString &database) {
        try {
            journal = update::readJournal(update::findJournal(folder, job.journal, database));
        } catch (const BadInput &problem) {
            printLine(stderr, QStringLiteral("qalu-cli restore: ") + problem.text());
            return false;
        }
        return true;
    };
    if (!latest && !read(QString()))
        return 2;

    db::TConnection connection;
    try {
        connection.setConnectionString(job.connection);
        connection.Open();
    } catch (...) {
        return connectionFailure(std::current_exception(), messages);
    }
    const QString identity = connection.identity();
    if (latest && !read(identity.isEmpty() ? QStringLiteral("?") : identity))
        return 2;
    if (!job.otherDatabase && (journal.identity.isEmpty() || journal.identity != identity)) {
        printLine(stderr,
            QStringLiteral(
                "qalu-cli restore: %1: %2; nothing was changed (--other-database restores it anyway)")
                .arg(journal.file,
                    journal.identity.isEmpty()
                        ? QStringLiteral("the journal does not say which database it was recorded on")
                        : QStringLiteral("recorded on the database %1, not on %2")
                              .arg(journal.identity, identity)));
        return 2;
    }

    QList<update::RestoreItem> items;
    try {
        if (sending && !dry)
            sending();
        items = update::restoreJournal(connection, journal, job.force, dry);
    } catch (const BadInput &problem) {
        printLine(stderr, QStringLiteral("qalu-cli restore: ") + problem.text());
        return 2;
    } catch (...) {
        printLine(stderr,
            QStringLiteral("qalu-cli restore: the database refused, nothing was changed: ")
                + oneLine(failureText(std::current_exception())));
        return 3;
    }

    const auto print = [text](const QString &line) {
        if (text)
            printLine(text, line);
    };
    int restored = 0, alreadyBack = 0, leftAlone = 0;
    QJsonArray itemsJson;
    for (const update::RestoreItem &item : items) {
        const update::JournalChange &c = item.change;
        itemsJson.append(QJsonObject { { QStringLiteral("guid"), c.guid },
            { QStringLiteral("state"), QString::fromLatin1(stateName(item.state)) },
            { QStringLiteral("current"), pricesJson(item.current) },
            { QStringLiteral("old"), pricesJson(c.old) },
            { QStringLiteral("written"), pricesJson(c.written) } });
        switch (item.state) {
        case update::RestoreState::Restored:
        case update::RestoreState::Forced:
            ++restored;
            print(QStringLiteral("%1 %2  %3 -> %4%5")
                      .arg(dry ? QStringLiteral("would restore") : QStringLiteral("restored"), c.guid,
                          pricesText(item.current), pricesText(c.old),
                          item.state == update::RestoreState::Forced
                              ? QStringLiteral(" (forced: changed since the run)")
                              : QString()));
            break;
        case update::RestoreState::AlreadyOld:
            ++alreadyBack;
            print(QStringLiteral("already back %1  %2").arg(c.guid, pricesText(c.old)));
            break;
        case update::RestoreState::LeftAlone:
            ++leftAlone;
            print(QStringLiteral("left alone %1  now %2, the run wrote %3 (--force puts back %4)")
                      .arg(c.guid, pricesText(item.current), pricesText(c.written), pricesText(c.old)));
            break;
        }
    }
    QJsonArray inserts;
    for (const update::JournalInsert &i : journal.inserts) {
        inserts.append(
            QJsonObject { { QStringLiteral("mat_num"), i.matNum }, { QStringLiteral("name"), i.name } });
        print(QStringLiteral("inserted by the run, not deleted: MatNum %1  %2").arg(i.matNum).arg(i.name));
    }
    for (const QString &category : journal.newCategories)
        print(QStringLiteral("category created by the run, not deleted: %1").arg(category));
    runlog::info(QStringLiteral("restore of %1%2: %3 restored, %4 already back, %5 left alone")
                     .arg(journal.file, dry ? QStringLiteral(" (dry run)") : QString())
                     .arg(restored)
                     .arg(alreadyBack)
                     .arg(leftAlone));
    print(QStringLiteral("%1 medicines %2, %3 already back, %4 left alone%5")
              .arg(restored)
              .arg(dry ? QStringLiteral("would be restored") : QStringLiteral("restored"))
              .arg(alreadyBack)
              .arg(leftAlone)
              .arg(dry ? QStringLiteral(" (dry run: nothing written)") : QString()));
    if (document)
        *document
            = QJsonObject { { QStringLiteral("journal"), journal.file }, { QStringLiteral("dry_run"), dry },
                  { QStringLiteral("outcome"),
                      leftAlone > 0 ? QStringLiteral("left-alone") : QStringLiteral("restored") },
                  { QStringLiteral("rows"), itemsJson }, { QStringLiteral("inserts"), inserts },
                  { QStringLiteral("new_categories"), QJsonArray::fromStringList(journal.newCategories) },
                  { QStringLiteral("counts"),
                      QJsonObject { { QStringLiteral("restored"), restored },
                          { QStringLiteral("already-back"), alreadyBack },
                          { QStringLiteral("left-alone"), leftAlone } } } };
    return leftAlone > 0 ? 4 : 0;
}

int runRestore(const QStringList &args)
{
    CommandLine line("restore", QString::fromUtf8(help));
    line.takeConnection();
    line.takeJournalDir();
    const QCommandLineOption dryRunOption = line.addFlag("dry-run");
    const QCommandLineOption forceOption = line.addFlag("force");
    const QCommandLineOption otherDatabase = line.addFlag("other-database");
    const BranchOptions branchOptions = takeBranchOptions(line, true);
    if (const std::optional<int> done = line.parse(args))
        return *done;
    RestoreJob job;
    job.journalDir = line.journalDir();
    job.journal = line.onePositional("JOURNAL");
    job.dryRun = line.isSet(dryRunOption);
    job.force = line.isSet(forceOption);
    job.otherDatabase = line.isSet(otherDatabase);
    if (line.isSet(branchOptions.branches))
        return runBranches(line, branchOptions,
            { "restore", QString(), systemDecimalSeparator(),
                QJsonObject { { QStringLiteral("journal_dir"), job.journalDir },
                    { QStringLiteral("journal"), job.journal }, { QStringLiteral("dry_run"), job.dryRun },
                    { QStringLiteral("force"), job.force },
                    { QStringLiteral("other_database"), job.otherDatabase } } });
    rejectBranchOptions(line, branchOptions);
    job.connection = line.connection();
    if (const std::optional<int> error = line.error())
        return *error;
    line.logStart(job.connection, systemDecimalSeparator());
    return restoreDatabase(job, stdout, stdout, nullptr);
}

} // namespace qalu::cli
