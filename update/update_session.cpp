#include "update/update_session.h"

#include "intake/workbook_reader.h"
#include "update/run_journal.h"

namespace qalu::update {

namespace {

// qgeneral's command timeout in seconds: a row statement that hangs longer fails the run there.
constexpr int rowStatementTimeout = 50;

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
    ADOConnection1.Open();
}

UpdateRun::Steps UpdateSession::steps(const QString &workbook, QChar decimalSeparator)
{
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
    if (journal) {
        const QString failure = journal->write(report);
        if (journalFailure)
            *journalFailure = failure;
        if (oldPrices)
            *oldPrices = journal->snapshot();
    }
    return report;
}

} // namespace qalu::update
