#pragma once

#include "update/update_report.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

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

// Where journals go unless a folder is given: the same for the window and qalu-cli.
QString defaultJournalFolder();

// The journal files of `folder`, oldest first.
QStringList journalFiles(const QString &folder);

// A journal named by a user: a file, a file name in `folder`, or "latest" (the newest there).
// Throws qalu::BadInput when there is none.
QString findJournal(const QString &folder, const QString &name);

// How many journals a folder keeps.
inline constexpr int journalsKept = 50;

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

// One run's journal: the old prices taken before the first row statement, then the run's
// report. Failures never reach the run: they are logged on qalu.update and handed back as text.
class RunJournal
{
public:
    RunJournal(db::TConnection &connection, QString folder);

    // The run's after-read step: reads the old prices of the update rows' medicines.
    void takeSnapshot(const TStringGrid &grid);

    // Writes the journal of the finished run and keeps the newest journalsKept. Returns the empty
    // text, or why no journal was written (already logged).
    QString write(const UpdateReport &report);

    QString filePath() const { return m_filePath; }
    // The old prices, when they were read.
    std::optional<PriceSnapshot> snapshot() const
    {
        return m_taken && m_snapshotFailure.isEmpty() ? std::optional(m_snapshot) : std::nullopt;
    }

private:
    db::TConnection &m_connection;
    QString m_folder;
    bool m_taken = false;
    QString m_snapshotFailure;
    PriceSnapshot m_snapshot;
    QString m_filePath;
};

} // namespace qalu::update
