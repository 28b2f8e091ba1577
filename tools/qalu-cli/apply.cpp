#include "commands.h"

#include "db/category_resolver.h"
#include "db/connection.h"
#include "db/query.h"
#include "db/update_run.h"
#include "intake/decimal_separator.h"
#include "intake/failure.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <cstdio>

namespace qalu::cli {

namespace {

void printLine(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

int runApply(const ApplyOptions &options)
{
    if (options.separator)
        setDecimalSeparator(*options.separator);

    // The window's components, in the window's order: the connection opened as at show time, then
    // the grid and the five query objects on it.
    db::TConnection ADOConnection1;
    try {
        ADOConnection1.setConnectionString(options.connection);
        ADOConnection1.Open();
    } catch (const Failure &failure) {
        printLine(stdout, QStringLiteral("هناك مشكلة بالارتباط بقاعدة البيانات"));
        printLine(stdout, failure.text());
        return 1;
    } catch (const std::exception &failure) {
        printLine(stdout, QStringLiteral("هناك مشكلة بالارتباط بقاعدة البيانات"));
        printLine(stdout, QString::fromLocal8Bit(failure.what()));
        return 1;
    }

    TStringGrid StringGrid1;
    db::TQuery qgeneral(ADOConnection1, QStringLiteral("qgeneral"), 50);
    db::TQuery QGeneral6(ADOConnection1, QStringLiteral("QGeneral6"));
    db::TQuery QInsertN(ADOConnection1, QStringLiteral("QInsertN"));
    db::TQuery QFindNewCat(ADOConnection1, QStringLiteral("QFindNewCat"));
    db::TQuery QGeneral4(ADOConnection1, QStringLiteral("QGeneral4"));
    db::CategoryResolver resolver(QFindNewCat, QGeneral4, QInsertN, QGeneral6);

    const QString path = options.workbook;
    db::UpdateRun run(StringGrid1, qgeneral,
        { [&] { ClearGrid(StringGrid1); }, [&] { LoadWorkbookToGrid(StringGrid1, path); },
            [&](const QString &name) { return resolver.FindOrAddCategory(name); } });
    const db::UpdateOutcome outcome = run.run();
    printLine(stdout, db::updateMessage(outcome));
    switch (outcome) {
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
