#pragma once

#include "db/category_resolver.h"
#include "db/connection.h"
#include "db/query.h"
#include "db/update_run.h"
#include "intake/price_grid.h"

#include <QString>

namespace qalu::db {

// The update components wired once, in the window's order: the connection, the grid, the five
// query objects on the connection, and category resolution on four of them. Members keep the
// window's names so code reads the same in both places. Not copyable: the query objects hold
// the connection by reference.
class UpdateSession
{
public:
    UpdateSession();
    UpdateSession(const UpdateSession &) = delete;
    UpdateSession &operator=(const UpdateSession &) = delete;

    // Sets the connection string and opens the connection; throws qalu::Failure.
    void open(const QString &connectionString);

    // The run's steps on this session: the grid cleared, `workbook` read into it, categories
    // resolved by `resolver`. Callers may replace any step (tests fill the grid themselves) or
    // set AfterRead.
    UpdateRun::Steps steps(const QString &workbook);

    // One run with the given steps; the report names `workbook`.
    UpdateReport run(const QString &workbook, UpdateRun::Steps steps);
    // One run reading `workbook`.
    UpdateReport run(const QString &workbook) { return run(workbook, steps(workbook)); }

    TConnection ADOConnection1;
    TStringGrid StringGrid1;
    TQuery qgeneral;
    TQuery QGeneral6;
    TQuery QInsertN;
    TQuery QFindNewCat;
    TQuery QGeneral4;
    CategoryResolver resolver;
};

} // namespace qalu::db
