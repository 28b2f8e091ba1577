#include "update/update_session.h"

#include "core/failure_text.h"
#include "core/run_log.h"
#include "db/connection_string.h"
#include "intake/workbook_reader.h"
#include "update/run_journal.h"

namespace qalu::update {

namespace {

// qgeneral's command timeout in seconds: a row statement that hangs longer fails the run there.
constexpr int rowStatementTimeout = 50;

// The read's result and the run's outcome, for the log.
void logRun(const UpdateReport &report)
{
    if (report.outcome == UpdateOutcome::ReadFailed) {
        runlog::warning(QStringLiteral("reading %1 failed: %2").arg(report.workbook, report.readFailure));
        return;
    }
    runlog::info(QStringLiteral("read %1: %2 sheet rows").arg(report.workbook).arg(report.sheetRows));
    int counts[3] = {};
    for (const RowReport &row : report.rows)
        ++counts[static_cast<int>(row.status)];
    QString line = QStringLiteral("run %1: %2 applied, %3 failed, %4 not reached, %5 new categories")
                       .arg(report.outcome == UpdateOutcome::Completed ? QStringLiteral("completed")
                                                                       : QStringLiteral("stopped"))
                       .arg(counts[static_cast<int>(RowStatus::Applied)])
                       .arg(counts[static_cast<int>(RowStatus::Failed)])
                       .arg(counts[static_cast<int>(RowStatus::NotReached)])
                       .arg(report.newCategories.size());
    if (report.rolledBack)
        line += QStringLiteral(", rolled back");
    if (report.stop) {
        line += QStringLiteral("; stopped at row %1").arg(report.stop->sheetRow);
        if (!report.stop->cell.isEmpty())
            line += QStringLiteral(" (%1 '%2')").arg(report.stop->cell, report.stop->text);
        line += QStringLiteral(": ") + report.stop->reason;
    }
    if (report.outcome == UpdateOutcome::Completed)
        runlog::info(line);
    else
        runlog::warning(line);
}

} // namespace

UpdateSession::UpdateSession()
    : qgeneral(ADOConnection1, QStringLiteral("qgeneral"), rowStatementTimeout)
    , QGeneral6(ADOConnection1, QStringLiteral("QGeneral6"))
    , QInsertN(ADOConnection1, QStringLiteral("QInsertN"))
    , QFindNewCat(ADOConnection1, QStringLiteral("QFindNewCat"))
    , QGeneral4(ADOConnection1, QStringLiteral("QGeneral4"))
    , resolver(QFindNewCat, QGeneral4, QInsertN, QGeneral6)
{
}

void UpdateSession::open(const QString &connectionString)
{
    ADOConnection1.setConnectionString(connectionString);
    try {
        ADOConnection1.Open();
    } catch (...) {
        runlog::warning(
            QStringLiteral("cannot connect to %1: %2")
                .arg(db::withoutCredentials(connectionString), failureText(std::current_exception())));
        throw;
    }
    runlog::info(QStringLiteral("connected to %1").arg(ADOConnection1.identity()));
}

UpdateRun::Steps UpdateSession::steps(
    const QString &workbook, QChar decimalSeparator, const TStringGrid *preRead)
{
    if (preRead)
        return { [this] { ClearGrid(StringGrid1); }, [this, preRead] { StringGrid1 = *preRead; },
            [this](const QString &name) { return resolver.Resolve(name); }, {}, {} };
    return { [this] { ClearGrid(StringGrid1); },
        [this, workbook, decimalSeparator] { LoadWorkbookToGrid(StringGrid1, workbook, decimalSeparator); },
        [this](const QString &name) { return resolver.Resolve(name); }, {}, {} };
}

UpdateReport UpdateSession::run(const QString &workbook, QChar decimalSeparator, UpdateRun::Steps runSteps,
    const std::optional<QString> &journalFolder, QString *journalFailure, bool requireJournal, bool atomic,
    std::optional<PriceSnapshot> *oldPrices)
{
    std::optional<RunJournal> journal;
    if (journalFolder) {
        journal.emplace(ADOConnection1, *journalFolder, decimalSeparator, workbook);
        runSteps.AfterRead
            = [&journal, requireJournal](const TStringGrid &grid) { journal->begin(grid, requireJournal); };
    }
    UpdateReport report = UpdateRun(
        StringGrid1, qgeneral, std::move(runSteps), decimalSeparator, atomic ? &ADOConnection1 : nullptr)
                              .run();
    report.workbook = workbook;
    logRun(report);
    if (journal) {
        const QString failure = journal->write(report);
        if (journalFailure)
            *journalFailure = failure;
        if (failure.isEmpty())
            runlog::info(QStringLiteral("journal %1").arg(journal->filePath()));
        else
            runlog::warning(QStringLiteral("no journal: %1").arg(failure));
        if (oldPrices)
            *oldPrices = journal->snapshot();
    }
    return report;
}

} // namespace qalu::update
