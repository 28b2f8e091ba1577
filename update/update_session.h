#pragma once

#include "db/connection.h"
#include "db/query.h"
#include "intake/price_grid.h"
#include "update/category_resolver.h"
#include "update/run_journal.h"
#include "update/update_run.h"

#include <QChar>
#include <QString>

#include <optional>

namespace qalu::update {

// The update components wired once, in the window's order: the connection, the grid, the five
// query objects on the connection, and category resolution on four of them. The window owns one,
// and so does qalu-cli apply; members keep the window's names so code reads the same in both
// places. Not copyable: the query objects hold the connection by reference.
class UpdateSession
{
public:
    UpdateSession();
    UpdateSession(const UpdateSession &) = delete;
    UpdateSession &operator=(const UpdateSession &) = delete;

    // Sets the connection string and opens the connection; throws qalu::Failure.
    void open(const QString &connectionString);

    // The run's steps on this session: the grid cleared, `workbook` read into it with
    // `decimalSeparator`, categories resolved by `resolver`. Callers may replace any step (the
    // window uses its own methods, tests fill the grid themselves). With `preRead`, the grid is a
    // copy of it instead of a new read (qalu-cli --branches reads the workbook once for all).
    UpdateRun::Steps steps(
        const QString &workbook, QChar decimalSeparator, const TStringGrid *preRead = nullptr);

    // One run with the given steps, prices parsed with `decimalSeparator`; the report names
    // `workbook`. With a journal folder (empty: the default folder) the run keeps its journal
    // there: written ahead in the AfterRead step (old prices, the prices each row is about to
    // write), completed after the run; why none could be written goes to `journalFailure`, never
    // into the run. With `requireJournal`, a journal that cannot be written ahead throws
    // JournalRefused before any row statement. `atomic` runs the rows in one transaction (qalu-cli
    // apply --atomic only). `oldPrices`, when given, receives the journal's old prices if they
    // were read.
    UpdateReport run(const QString &workbook, QChar decimalSeparator, UpdateRun::Steps steps,
        const std::optional<QString> &journalFolder = std::nullopt, QString *journalFailure = nullptr,
        bool requireJournal = false, bool atomic = false, std::optional<PriceSnapshot> *oldPrices = nullptr);

    db::TConnection ADOConnection1;
    TStringGrid StringGrid1;
    db::TQuery qgeneral;
    db::TQuery QGeneral6;
    db::TQuery QInsertN;
    db::TQuery QFindNewCat;
    db::TQuery QGeneral4;
    CategoryResolver resolver;
};

} // namespace qalu::update
