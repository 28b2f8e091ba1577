#include "command.h"

#include "core/failure.h"
#include "core/failure_text.h"
#include "db/connection.h"
#include "update/journal_restore.h"
#include "update/report_json.h"

namespace qalu::cli {

namespace {

const char help[]
    = "Usage: qalu-cli restore --connection CONNECTION-STRING [--dry-run] [--force]\n"
      "                       [--journal-dir DIR] JOURNAL\n"
      "\n"
      "Puts back the four prices (salp, price1, salp2, price2) that a run overwrote, from the run's\n"
      "journal, in one transaction: all of them or none. JOURNAL is a file, a file name in the\n"
      "journal folder ('qalu-cli journal' lists them), or 'latest'.\n"
      "A medicine whose prices are no longer what the run wrote (someone changed them since) is\n"
      "left alone and reported, unless --force. Medicines the run inserted and categories it\n"
      "created are listed, never deleted. Rows the run did not apply are not touched.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --connection CONNECTION-STRING  the database, as for apply\n"
      "  --dry-run                       print what would be done, write nothing\n"
      "  --force                         put back the old prices even where they changed since\n"
      "  --journal-dir DIR               the journal folder (default: the program's data folder)\n"
      "  -h, --help                      show this text\n"
      "  --version                       show the program's version\n"
      "\n"
      "Output (standard output): one line per medicine (restored, already back, left alone),\n"
      "the inserted medicines and created categories, then a count.\n"
      "Exit status:\n"
      "  0  every changed medicine has its old prices back (or would have, with --dry-run)\n"
      "  4  restored, but some medicines were left alone\n"
      "  1  connection failure, printed as apply prints it\n"
      "  2  the journal cannot be read, is malformed, or names a medicine this database does\n"
      "     not have (the reason on standard error; nothing changed)\n"
      "  3  the database refused the restore (its reason on standard error; nothing changed)\n"
      "  64 usage error: nothing on standard output, one line on standard error\n";

} // namespace

int runRestore(const QStringList &args)
{
    CommandLine line("restore", QString::fromUtf8(help));
    line.takeConnection();
    line.takeJournalDir();
    const QCommandLineOption dryRunOption = line.addFlag("dry-run");
    const QCommandLineOption forceOption = line.addFlag("force");
    if (const std::optional<int> done = line.parse(args))
        return *done;
    const QString connectionString = line.connection();
    const QString journalDir = line.journalDir();
    const QString name = line.onePositional("JOURNAL");
    if (const std::optional<int> error = line.error())
        return *error;
    const bool dry = line.isSet(dryRunOption);

    update::Journal journal;
    try {
        journal = update::readJournal(
            update::findJournal(journalDir.isEmpty() ? update::defaultJournalFolder() : journalDir, name));
    } catch (const BadInput &problem) {
        printLine(stderr, QStringLiteral("qalu-cli restore: ") + problem.text());
        return 2;
    }

    db::TConnection connection;
    try {
        connection.setConnectionString(connectionString);
        connection.Open();
    } catch (...) {
        return connectionFailure(std::current_exception());
    }

    QList<update::RestoreItem> items;
    try {
        items = update::restoreJournal(connection, journal, line.isSet(forceOption), dry);
    } catch (const BadInput &problem) {
        printLine(stderr, QStringLiteral("qalu-cli restore: ") + problem.text());
        return 2;
    } catch (...) {
        printLine(stderr,
            QStringLiteral("qalu-cli restore: the database refused, nothing was changed: ")
                + oneLine(failureText(std::current_exception())));
        return 3;
    }

    int restored = 0, leftAlone = 0;
    for (const update::RestoreItem &item : items) {
        const update::JournalChange &c = item.change;
        switch (item.state) {
        case update::RestoreState::Restored:
        case update::RestoreState::Forced:
            ++restored;
            printLine(stdout,
                QStringLiteral("%1 %2  %3 -> %4%5")
                    .arg(dry ? QStringLiteral("would restore") : QStringLiteral("restored"), c.guid,
                        pricesText(item.current), pricesText(c.old),
                        item.state == update::RestoreState::Forced
                            ? QStringLiteral(" (forced: changed since the run)")
                            : QString()));
            break;
        case update::RestoreState::AlreadyOld:
            ++restored;
            printLine(stdout, QStringLiteral("already back %1  %2").arg(c.guid, pricesText(c.old)));
            break;
        case update::RestoreState::LeftAlone:
            ++leftAlone;
            printLine(stdout,
                QStringLiteral("left alone %1  now %2, the run wrote %3 (--force puts back %4)")
                    .arg(c.guid, pricesText(item.current), pricesText(c.written), pricesText(c.old)));
            break;
        }
    }
    for (const update::JournalInsert &i : journal.inserts)
        printLine(stdout,
            QStringLiteral("inserted by the run, not deleted: MatNum %1  %2").arg(i.matNum).arg(i.name));
    for (const QString &category : journal.newCategories)
        printLine(stdout, QStringLiteral("category created by the run, not deleted: %1").arg(category));
    printLine(stdout,
        QStringLiteral("%1 medicines %2, %3 left alone%4")
            .arg(restored)
            .arg(dry ? QStringLiteral("would be restored") : QStringLiteral("restored"))
            .arg(leftAlone)
            .arg(dry ? QStringLiteral(" (dry run: nothing written)") : QString()));
    return leftAlone > 0 ? 4 : 0;
}

} // namespace qalu::cli
