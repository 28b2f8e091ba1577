#pragma once

#include "update/update_report.h"

#include <QChar>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QLockFile;

namespace qalu {
class TStringGrid;
}

namespace qalu::db {
class TConnection;
}

namespace qalu::update {

// A medicine's guid, as the list spells it, to its four prices.
using PriceSnapshot = QMap<QString, Prices>;

// The four prices of the medicines among `guids` that mat00 has, read with bound parameters on
// a query object of its own. Throws qalu::Failure with the database's text.
PriceSnapshot readPrices(db::TConnection &connection, const QStringList &guids);

// The guids the grid's update rows name, trimmed as the run binds them.
QStringList updateGuids(const TStringGrid &grid);

// An update row the run is about to apply: its sheet row, guid and the prices it binds.
struct PlannedRow
{
    int sheetRow = 0;
    QString guid;
    Prices prices {};
};

// The update rows of the capped grid the run will reach, with the prices each binds: up to the
// first row whose price cells break the rule, where the run stops.
QList<PlannedRow> plannedUpdates(const TStringGrid &grid, QChar decimalSeparator);

// Where journals go unless a folder is given: the same for the window and qalu-cli.
QString defaultJournalFolder();

// The largest file read as a journal; a real run of the full list is far smaller.
inline constexpr qint64 journalSizeCap = 64 * 1024 * 1024;

// A run-*.json entry of the journal folder, and why it is not read (empty: it is a journal file).
struct JournalFile
{
    QString path;
    QString skipped;
};

// Every run-*.json entry of `folder`, oldest first.
QList<JournalFile> journalFolderEntries(const QString &folder);

// The journal files of `folder` (regular files within the cap), oldest first.
QStringList journalFiles(const QString &folder);

// The whole of a journal file: regular files only (symlinks followed), at most journalSizeCap
// bytes. Throws qalu::BadInput saying why not.
QByteArray readJournalFile(const QString &path);

// A journal named by a user: a file, a file name in `folder`, or "latest": the newest there, or
// with `database` the newest of that database. Throws qalu::BadInput when there is none.
QString findJournal(const QString &folder, const QString &name, const QString &database = QString());

// Whether the run that writes the journal `path` is still going: its lock is held.
bool journalRunning(const QString &path);

// How many journals a folder keeps of each database.
inline constexpr int journalsKept = 50;

// Journal file names end in this tag of the database, so pruning keeps to one database's files.
QString databaseTag(const QString &identity);

// A medicine whose prices the run changed: its prices before the run and what the run wrote.
struct JournalChange
{
    QString guid;
    Prices old {};
    Prices written {}; // the last prices a row of the run wrote (or was about to write)
    // Every price set the run may have left: the last one of a finished run; any row's of the
    // guid for a run that never finished.
    QList<Prices> runWrote;
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
    QString identity; // the database as it names itself; empty in journals of the first format
    int version = 0;
    // completed, read-failed, row-failed; or, for a run that never finished, running (its
    // lock is held) or interrupted.
    QString outcome;
    QList<JournalChange> changes; // in the order the run first changed them
    QList<JournalInsert> inserts; // medicines the run inserted
    QStringList newCategories;
    QJsonObject document; // the file as read
};

// Thrown out of the run's after-read step when a journal is required and cannot be written:
// the run then sends no row statement.
struct JournalRefused
{
    QString reason;
};

// One run's journal, written ahead: before the first row statement the file holds the old
// prices, the prices each row is about to write and the database's identity, flushed to disk, in
// state "started", with a lock beside it while the run goes; after the run it is completed in
// one rename. Failures never reach the run: they are logged on qalu.update and handed back as
// text, and a journal that cannot be written whole is removed.
class RunJournal
{
public:
    RunJournal(db::TConnection &connection, QString folder, QChar decimalSeparator, QString workbook);
    ~RunJournal();

    // The run's after-read step: reads the old prices and writes the journal ahead. With
    // `required`, a journal that cannot be written throws JournalRefused.
    void begin(const TStringGrid &grid, bool required);

    // Completes the journal of the finished run and keeps the newest journalsKept of its
    // database. Returns the empty text, or why there is no journal (already logged).
    QString write(const UpdateReport &report);

    QString filePath() const { return m_filePath; }
    // The old prices, when they were read.
    const std::optional<PriceSnapshot> &snapshot() const { return m_snapshot; }

private:
    void discard(const QString &why);

    db::TConnection &m_connection;
    QString m_folder;
    QChar m_separator;
    QString m_workbook;
    QString m_failure;
    QString m_tag;
    QJsonObject m_started;
    std::optional<PriceSnapshot> m_snapshot;
    QString m_filePath;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace qalu::update
