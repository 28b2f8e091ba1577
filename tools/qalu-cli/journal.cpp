#include "commands.h"

#include "core/failure_text.h"
#include "core/messages.h"
#include "db/connection.h"
#include "db/journal_restore.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <cstdio>

namespace qalu::cli {

namespace {

QString price(double value)
{
    return QLocale::c().toString(value, 'g', QLocale::FloatingPointShortest);
}

QString prices(const db::Prices &p)
{
    return QStringLiteral("%1 %2 %3 %4").arg(price(p[0]), price(p[1]), price(p[2]), price(p[3]));
}

QString folderOf(const JournalOptions &options)
{
    return options.journalDir.isEmpty() ? db::defaultJournalFolder() : options.journalDir;
}

// A journal named on the command line: a file, a file name in the folder, or "latest". Throws
// JournalProblem.
QString findJournal(const QString &folder, const QString &run)
{
    if (run == u"latest") {
        const QStringList files = db::journalFiles(folder);
        if (files.isEmpty())
            throw db::JournalProblem { QStringLiteral("no journals in '%1'").arg(folder) };
        return files.constLast();
    }
    if (QFileInfo(run).isFile())
        return run;
    const QString inFolder = QDir(folder).filePath(run);
    if (!run.contains(u'/') && QFileInfo(inFolder).isFile())
        return inFolder;
    throw db::JournalProblem { QStringLiteral("no journal '%1' (nor in '%2')").arg(run, folder) };
}

int showRun(const JournalOptions &options)
{
    db::Journal j;
    try {
        j = db::readJournal(findJournal(folderOf(options), options.run));
    } catch (const db::JournalProblem &problem) {
        printLine(stderr, QStringLiteral("qalu-cli journal: ") + problem.text);
        return 2;
    }
    if (options.format == ReviewFormat::Json) {
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
            .arg(j.changes.size()));
    for (const db::JournalChange &c : j.changes)
        printLine(stdout, QStringLiteral("  %1  %2 -> %3").arg(c.guid, prices(c.old), prices(c.written)));
    printLine(stdout, QStringLiteral("inserted  %1 medicines:").arg(j.inserts.size()));
    for (const db::JournalInsert &i : j.inserts)
        printLine(stdout, QStringLiteral("  MatNum %1  %2").arg(i.matNum).arg(i.name));
    if (!j.newCategories.isEmpty())
        printLine(
            stdout, QStringLiteral("new categories: %1").arg(j.newCategories.join(QStringLiteral(", "))));
    return 0;
}

} // namespace

int runJournal(const JournalOptions &options)
{
    if (!options.run.isEmpty())
        return showRun(options);
    QStringList files = db::journalFiles(folderOf(options));
    std::reverse(files.begin(), files.end());
    QJsonArray list;
    for (const QString &file : files) {
        const QString name = QFileInfo(file).fileName();
        try {
            const db::Journal j = db::readJournal(file);
            if (options.format == ReviewFormat::Json) {
                list.append(QJsonObject { { QStringLiteral("file"), name },
                    { QStringLiteral("time"), j.time }, { QStringLiteral("workbook"), j.workbook },
                    { QStringLiteral("outcome"), j.outcome }, { QStringLiteral("changed"), j.changes.size() },
                    { QStringLiteral("inserted"), j.inserts.size() } });
            } else {
                printLine(stdout,
                    QStringLiteral("%1  %2  %3 changed  %4 inserted  %5  %6")
                        .arg(j.time, j.outcome.leftJustified(11))
                        .arg(j.changes.size(), 4)
                        .arg(j.inserts.size(), 4)
                        .arg(j.workbook, name));
            }
        } catch (const db::JournalProblem &problem) {
            if (options.format == ReviewFormat::Json)
                list.append(QJsonObject {
                    { QStringLiteral("file"), name }, { QStringLiteral("unreadable"), problem.text } });
            else
                printLine(stdout, QStringLiteral("%1  unreadable: %2").arg(name, problem.text));
        }
    }
    if (options.format == ReviewFormat::Json)
        std::fputs(QJsonDocument(list).toJson(QJsonDocument::Indented).constData(), stdout);
    else if (files.isEmpty())
        printLine(stdout, QStringLiteral("no journals in %1").arg(folderOf(options)));
    return 0;
}

int runRestore(const RestoreOptions &options)
{
    db::Journal journal;
    try {
        journal = db::readJournal(findJournal(
            options.journalDir.isEmpty() ? db::defaultJournalFolder() : options.journalDir, options.journal));
    } catch (const db::JournalProblem &problem) {
        printLine(stderr, QStringLiteral("qalu-cli restore: ") + problem.text);
        return 2;
    }

    db::TConnection connection;
    try {
        connection.setConnectionString(options.connection);
        connection.Open();
    } catch (...) {
        printLine(stdout, messages::databaseProblem());
        printLine(stdout, failureText(std::current_exception()));
        return 1;
    }

    QList<db::RestoreItem> items;
    try {
        items = db::restoreJournal(connection, journal, options.force, options.dryRun);
    } catch (const db::JournalProblem &problem) {
        printLine(stderr, QStringLiteral("qalu-cli restore: ") + problem.text);
        return 2;
    } catch (...) {
        QString reason = failureText(std::current_exception());
        reason.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        printLine(
            stderr, QStringLiteral("qalu-cli restore: the database refused, nothing was changed: ") + reason);
        return 3;
    }

    const bool dry = options.dryRun;
    int restored = 0, leftAlone = 0;
    for (const db::RestoreItem &item : items) {
        const db::JournalChange &c = item.change;
        switch (item.state) {
        case db::RestoreState::Restored:
        case db::RestoreState::Forced:
            ++restored;
            printLine(stdout,
                QStringLiteral("%1 %2  %3 -> %4%5")
                    .arg(dry ? QStringLiteral("would restore") : QStringLiteral("restored"), c.guid,
                        prices(item.current), prices(c.old),
                        item.state == db::RestoreState::Forced
                            ? QStringLiteral(" (forced: changed since the run)")
                            : QString()));
            break;
        case db::RestoreState::AlreadyOld:
            ++restored;
            printLine(stdout, QStringLiteral("already back %1  %2").arg(c.guid, prices(c.old)));
            break;
        case db::RestoreState::LeftAlone:
            ++leftAlone;
            printLine(stdout,
                QStringLiteral("left alone %1  now %2, the run wrote %3 (--force puts back %4)")
                    .arg(c.guid, prices(item.current), prices(c.written), prices(c.old)));
            break;
        }
    }
    for (const db::JournalInsert &i : journal.inserts)
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
