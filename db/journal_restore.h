#pragma once

#include "db/run_journal.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace qalu::db {

class TConnection;

// A journal that cannot be used as it is: unreadable, malformed, or not of this database.
struct JournalProblem
{
    QString text;
};

// A medicine whose prices the run changed: its prices before the run and what the run wrote.
struct JournalChange
{
    QString guid;
    Prices old {};
    Prices written {};
};

struct JournalInsert
{
    qint32 matNum = 0;
    QString name;
};

// A journal as read back, every value checked.
struct Journal
{
    QString file;
    QString time;
    QString workbook;
    QString workbookSha256; // empty when the workbook could not be hashed
    QString database;
    QString outcome;
    QList<JournalChange> changes; // in the order the run first changed them
    QList<JournalInsert> inserts; // medicines the run inserted
    QStringList newCategories;
    QJsonObject document; // the file as read
};

// Reads and checks a journal file. Throws JournalProblem saying what is wrong.
Journal readJournal(const QString &path);

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
// With `dryRun` only reads. Throws JournalProblem when a medicine of the journal is not in the
// database (nothing changed), qalu::Failure when the database refuses (rolled back).
QList<RestoreItem> restoreJournal(TConnection &connection, const Journal &journal, bool force, bool dryRun);

// Whether two prices are the same, allowing for the last bit lost in a driver's round trip.
bool samePrice(double a, double b);

} // namespace qalu::db
