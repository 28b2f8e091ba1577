#include "update/journal_restore.h"

#include "core/failure.h"
#include "db/connection.h"
#include "db/query.h"

namespace qalu::update {

namespace {

// Whether the medicine's stored prices equal `prices`, as the database compares them: each
// column with its own type and rounding against the bound value.
bool storedPricesAre(db::TQuery &query, const QString &guid, const Prices &prices)
{
    query.clearText();
    query.setText(QStringLiteral("select count(*) from mat00 where guid= :a0 and salp= :a1 and price1= :a2 "
                                 "and salp2= :a3 and price2= :a4"));
    query.setString(0, guid);
    for (int i = 0; i < 4; ++i)
        query.setDouble(i + 1, prices[size_t(i)]);
    query.Open();
    return !query.Eof() && query.fieldValue(0).toLongLong() > 0;
}

} // namespace

QList<RestoreItem> restoreJournal(
    db::TConnection &connection, const Journal &journal, bool force, bool dryRun)
{
    if (journal.outcome == u"running")
        throw BadInput(QStringLiteral("%1: the run is still going (its lock is held); nothing was changed")
                           .arg(journal.file));
    const bool writing = !dryRun && !journal.changes.isEmpty();
    // Read and write in one transaction, so no one changes a price between the look and the write.
    if (writing)
        connection.BeginTrans();
    try {
        QStringList guids;
        for (const JournalChange &change : journal.changes)
            guids << change.guid;
        const PriceSnapshot current = readPrices(connection, guids);

        QList<RestoreItem> items;
        db::TQuery compare(connection, QStringLiteral("QRestoreCompare"));
        for (const JournalChange &change : journal.changes) {
            const auto now = current.constFind(change.guid);
            if (now == current.cend())
                throw BadInput(QStringLiteral("%1: the medicine %2 is not in this database (is the journal "
                                              "of another database?); nothing was changed")
                                   .arg(journal.file, change.guid));
            RestoreItem item { change, *now, RestoreState::Restored };
            const auto runLeft = [&] {
                for (const Prices &p : change.runWrote) {
                    if (storedPricesAre(compare, change.guid, p))
                        return true;
                }
                return false;
            };
            if (storedPricesAre(compare, change.guid, change.old))
                item.state = RestoreState::AlreadyOld;
            else if (!runLeft())
                item.state = force ? RestoreState::Forced : RestoreState::LeftAlone;
            items.append(item);
        }

        if (writing) {
            // The run's own update statement, so the prices go back through the same binding.
            db::TQuery statement(connection, QStringLiteral("QRestore"));
            for (const RestoreItem &item : items) {
                if (item.state != RestoreState::Restored && item.state != RestoreState::Forced)
                    continue;
                statement.clearText();
                statement.setText(updateStatement());
                for (int i = 0; i < 4; ++i)
                    statement.setDouble(i, item.change.old[size_t(i)]);
                statement.setString(4, item.change.guid);
                statement.ExecSQL();
            }
            connection.CommitTrans();
        }
        return items;
    } catch (...) {
        if (writing)
            connection.RollbackTrans();
        throw;
    }
}

} // namespace qalu::update
