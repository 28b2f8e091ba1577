#pragma once

#include "db/update_report.h"

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>

namespace qalu {
class TStringGrid;
}

namespace qalu::db {

class TConnection;

// salp, price1, salp2, price2: the order the run binds them in.
using Prices = std::array<double, 4>;
// A medicine's guid to its four prices.
using PriceSnapshot = QMap<QString, Prices>;

// The four prices of the medicines among `guids` that mat00 has, read with bound parameters on
// a query of its own, in batches. Throws qalu::Failure with the database's text.
PriceSnapshot readPrices(TConnection &connection, const QStringList &guids);

// The guids the grid's update rows name, trimmed as the run binds them.
QStringList updateGuids(const TStringGrid &grid);

// The connection string with every Pwd= and Password= value taken out.
QString withoutPassword(const QString &connectionString);

// Where journals go unless a folder is given: the same for the window and qalu-cli.
QString defaultJournalFolder();

// The journal files of `folder`, oldest first.
QStringList journalFiles(const QString &folder);

// How many journals a folder keeps.
inline constexpr int journalsKept = 50;

// One run's journal: the old prices taken before the first row statement, then the run's
// report. Failures never reach the run: they are logged on qalu.update and handed back as text.
class RunJournal
{
public:
    RunJournal(TConnection &connection, QString folder);

    // The run's after-read step: reads the old prices of the update rows' medicines.
    void takeSnapshot(const TStringGrid &grid);

    // Writes the journal of the finished run and keeps the newest journalsKept. Returns the empty
    // text, or why no journal was written (already logged).
    QString write(const UpdateReport &report);

    QString filePath() const { return m_filePath; }

private:
    TConnection &m_connection;
    QString m_folder;
    bool m_taken = false;
    QString m_snapshotFailure;
    PriceSnapshot m_snapshot;
    QString m_filePath;
};

} // namespace qalu::db
