#include "command.h"

#include "core/decimal_separator.h"
#include "core/failure.h"
#include "core/failure_text.h"
#include "db/connection.h"
#include "update/journal_restore.h"
#include "update/report_json.h"

namespace qalu::cli {

namespace {

const char help[]
    = "Usage: qalu-cli restore --connection CONNECTION-STRING [--dry-run] [--force]\n"
      "                       [--other-database] [--journal-dir DIR] JOURNAL\n"
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
      "  64 usage error: nothing on standard output, one line on standard error\n";

} // namespace

int runRestore(const QStringList &args)
{
    CommandLine line("restore", QString::fromUtf8(help));
    line.takeConnection();
    line.takeJournalDir();
    const QCommandLineOption dryRunOption = line.addFlag("dry-run");
    const QCommandLineOption forceOption = line.addFlag("force");
    const QCommandLineOption otherDatabase = line.addFlag("other-database");
    if (const std::optional<int> done = line.parse(args))
        return *done;
    const QString connectionString = line.connection();
    const QString journalDir = line.journalDir();
    const QString name = line.onePositional("JOURNAL");
    if (const std::optional<int> error = line.error())
        return *error;
    line.logStart(connectionString, systemDecimalSeparator());
    const bool dry = line.isSet(dryRunOption);

    const QString folder = journalDir.isEmpty() ? update::defaultJournalFolder() : journalDir;
    // 'latest' is the newest journal of this database, so the database is asked first there.
    const bool latest = name == u"latest";
    update::Journal journal;
    const auto read = [&](const QString &database) {
        try {
            journal = update::readJournal(update::findJournal(folder, name, database));
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
        connection.setConnectionString(connectionString);
        connection.Open();
    } catch (...) {
        return connectionFailure(std::current_exception());
    }
    const QString identity = connection.identity();
    if (latest && !read(identity.isEmpty() ? QStringLiteral("?") : identity))
        return 2;
    if (!line.isSet(otherDatabase) && (journal.identity.isEmpty() || journal.identity != identity)) {
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

    int restored = 0, alreadyBack = 0, leftAlone = 0;
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
            ++alreadyBack;
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
        QStringLiteral("%1 medicines %2, %3 already back, %4 left alone%5")
            .arg(restored)
            .arg(dry ? QStringLiteral("would be restored") : QStringLiteral("restored"))
            .arg(alreadyBack)
            .arg(leftAlone)
            .arg(dry ? QStringLiteral(" (dry run: nothing written)") : QString()));
    return leftAlone > 0 ? 4 : 0;
}

} // namespace qalu::cli
