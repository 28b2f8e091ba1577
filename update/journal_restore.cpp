#include "update/journal_restore.h"

#include "core/failure.h"
#include "db/connection.h"
#include "db/query.h"

namespace qalu::update {

QList<RestoreItem> restoreJournal(
    db::TConnection &connection, const Journal &journal, bool force, bool dryRun)
{
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
        for (const JournalChange &change : journal.changes) {
            const auto now = current.constFind(change.guid);
            if (now == current.cend())
                throw BadInput(QStringLiteral("%1: the medicine %2 is not in this database (is the journal "
                                              "of another database?); nothing was changed")
                                   .arg(journal.file, change.guid));
            RestoreItem item { change, *now, RestoreState::Restored };
            if (samePrices(*now, change.old))
                item.state = RestoreState::AlreadyOld;
            else if (!samePrices(*now, change.written))
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
