#pragma once

#include "update/run_journal.h"

#include <QList>

namespace qalu::db {
class TConnection;
}

namespace qalu::update {

enum class RestoreState {
    Restored, // the run's prices were still there; the old ones are back (or would be)
    AlreadyOld, // the old prices are there already
    LeftAlone, // someone changed the prices since the run
    Forced, // changed since, and put back anyway
};

struct RestoreItem
{
    JournalChange change;
    Prices current {};
    RestoreState state = RestoreState::Restored;
};

// Puts back the old prices of the journal's changed medicines in one transaction: all of them or
// none. Medicines whose current prices are not what the run wrote are left alone unless `force`.
// With `dryRun` only reads. Throws qalu::BadInput when a medicine of the journal is not in the
// database (nothing changed), qalu::Failure when the database refuses (rolled back).
QList<RestoreItem> restoreJournal(
    db::TConnection &connection, const Journal &journal, bool force, bool dryRun);

} // namespace qalu::update
