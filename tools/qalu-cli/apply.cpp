#include "commands.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "core/messages.h"
#include "db/run_journal.h"
#include "db/update_session.h"
#include "intake/price_grid.h"

#include <QJsonDocument>
#include <QSaveFile>

#include <cstdio>
#include <optional>

namespace qalu::cli {

namespace {

// Writes the report whole or not at all. Returns false after a line on standard error.
bool writeReport(const QString &path, const db::UpdateReport &report)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(db::reportToJson(report)).toJson(QJsonDocument::Indented));
        if (file.commit())
            return true;
    }
    printLine(stderr,
        QStringLiteral("qalu-cli apply: cannot write the report '%1': %2").arg(path, file.errorString()));
    return false;
}

} // namespace

int runApply(const ApplyOptions &options)
{
    if (options.separator)
        setDecimalSeparator(*options.separator);

    // The window's components, in the window's order: the connection opened as at show time, then
    // the grid and the five query objects on it.
    db::UpdateSession session;
    try {
        session.open(options.connection);
    } catch (...) {
        printLine(stdout, messages::databaseProblem());
        // One line, even when the text quotes a file name with a line break in it.
        printLine(stdout, failureText(std::current_exception()).replace(u'\n', u' ').replace(u'\r', u' '));
        return 1;
    }

    db::UpdateRun::Steps steps = session.steps(options.workbook);
    std::optional<db::RunJournal> journal;
    if (options.journal) {
        journal.emplace(session.ADOConnection1, options.journalDir);
        steps.AfterRead = [&journal](const TStringGrid &grid) { journal->takeSnapshot(grid); };
    }
    const db::UpdateReport report = session.run(options.workbook, std::move(steps));
    printLine(stdout, db::updateMessage(report.outcome));
    if (report.stop) {
        // One line, even when the database's text runs over several.
        QString reason = report.stop->reason;
        reason.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        printLine(stderr, QStringLiteral("row %1: %2").arg(report.stop->sheetRow).arg(reason));
    }
    if (journal) {
        const QString failure = journal->write(report);
        if (!failure.isEmpty())
            printLine(stderr, QStringLiteral("qalu-cli apply: no journal of this run: ") + failure);
    }
    if (!options.report.isEmpty() && !writeReport(options.report, report))
        return 5;
    switch (report.outcome) {
    case db::UpdateOutcome::Completed:
        return 0;
    case db::UpdateOutcome::ReadFailed:
        return 2;
    case db::UpdateOutcome::RowFailed:
        break;
    }
    return 3;
}

} // namespace qalu::cli
