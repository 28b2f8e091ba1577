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
// none. The database itself says whether a medicine's stored prices are the old ones (already
// back) or ones the run wrote (for a run that never finished: ones any row of its guid was about
// to write); any other medicine is left alone unless `force`. With `dryRun` only reads. Throws
// qalu::BadInput when the run is still going or a medicine of the journal is not in the
// database (nothing changed), qalu::Failure when the database refuses (rolled back).
QList<RestoreItem> restoreJournal(
    db::TConnection &connection, const Journal &journal, bool force, bool dryRun);

} // namespace qalu::update
