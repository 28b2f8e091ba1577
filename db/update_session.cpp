#include "db/update_session.h"

#include "intake/workbook_reader.h"

namespace qalu::db {

UpdateSession::UpdateSession()
    : qgeneral(ADOConnection1, QStringLiteral("qgeneral"), 50)
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

UpdateRun::Steps UpdateSession::steps(const QString &workbook)
{
    return { [this] { ClearGrid(StringGrid1); },
        [this, workbook] { LoadWorkbookToGrid(StringGrid1, workbook); },
        [this](const QString &name) { return resolver.Resolve(name); }, {} };
}

UpdateReport UpdateSession::run(const QString &workbook, UpdateRun::Steps runSteps)
{
    UpdateReport report = UpdateRun(StringGrid1, qgeneral, std::move(runSteps)).run();
    report.workbook = workbook;
    return report;
}

} // namespace qalu::db
