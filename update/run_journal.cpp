#include "update/run_journal.h"

#include "core/failure.h"
#include "core/failure_text.h"
#include "core/logging.h"
#include "core/trim.h"
#include "db/connection.h"
#include "db/query.h"
#include "intake/price_grid.h"
#include "update/report_json.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMultiHash>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

#include <optional>

namespace qalu::update {

namespace {

// The cap of rowCap sheet rows leaves fewer guids than this, so every list is one select: within
// SQL Server's 2100 parameters and SQLite's 32766 (since 3.32). An older SQLite refuses it, and
// the refused batch is then asked for guid by guid below.
constexpr int guidsPerSelect = 2000;
static_assert(rowCap <= guidsPerSelect);

double number(const QVariant &value)
{
    bool ok = false;
    const double d = value.toDouble(&ok);
    return ok ? d : 0;
}

// run-YYYYMMDDTHHMMSS.mmmZ-NN.json: sorts by time, unique within a millisecond by NN.
QString freeFileName(const QDir &dir, const QDateTime &utc)
{
    const QString stem = QStringLiteral("run-") + utc.toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    for (int n = 0;; ++n) {
        const QString name = QStringLiteral("%1-%2.json").arg(stem).arg(n, 2, 10, QLatin1Char('0'));
        if (!dir.exists(name))
            return name;
    }
}

// One select for `batch`; the rows land under the guid texts asked for.
void selectPrices(db::TQuery &query, const QStringList &batch, PriceSnapshot &snapshot)
{
    QStringList marks;
    for (qsizetype i = 0; i < batch.size(); ++i)
        marks << QStringLiteral(":a%1").arg(i);
    query.clearText();
    query.setText(QStringLiteral("select guid,salp,price1,salp2,price2 from mat00 where guid in (%1)")
                      .arg(marks.join(u',')));
    for (qsizetype i = 0; i < batch.size(); ++i)
        query.setString(int(i), batch[i]);
    query.Open();
    // The query object hands guids back in its own spelling; a list may spell them otherwise.
    // Looked up by hash: a search per row made the snapshot take seconds on a server.
    const QSet<QString> exact(batch.cbegin(), batch.cend());
    QMultiHash<QString, QString> bySpelling;
    for (; !query.Eof(); query.Next()) {
        const QString found = query.fieldValue(0).toString();
        const Prices prices { number(query.fieldValue(1)), number(query.fieldValue(2)),
            number(query.fieldValue(3)), number(query.fieldValue(4)) };
        if (exact.contains(found)) {
            snapshot.insert(found, prices);
            continue;
        }
        if (bySpelling.isEmpty()) {
            for (const QString &asked : batch)
                bySpelling.insert(db::guidText(asked), asked);
        }
        for (const QString &asked : bySpelling.values(db::guidText(found)))
            snapshot.insert(asked, prices);
    }
}

} // namespace

PriceSnapshot readPrices(db::TConnection &connection, const QStringList &guids)
{
    PriceSnapshot snapshot;
    db::TQuery query(connection, QStringLiteral("QJournalSnapshot"));
    for (qsizetype first = 0; first < guids.size(); first += guidsPerSelect) {
        const QStringList batch = guids.mid(first, guidsPerSelect);
        try {
            selectPrices(query, batch, snapshot);
        } catch (const Failure &) {
            // A database that types guids refuses a whole batch for one malformed text, which
            // the run's own statement would refuse too: the others are asked for one by one.
            if (batch.size() == 1)
                throw;
            std::optional<Failure> refused;
            bool anyRead = false;
            for (const QString &guid : batch) {
                try {
                    selectPrices(query, { guid }, snapshot);
                    anyRead = true;
                } catch (const Failure &failure) {
                    qCWarning(lcUpdate).noquote() << "no old prices for" << guid << ":" << failure.text();
                    refused = failure;
                }
            }
            // Refused every time: the database, not a guid, is at fault.
            if (!anyRead && refused)
                throw *refused;
        }
    }
    return snapshot;
}

QStringList updateGuids(const TStringGrid &grid)
{
    QStringList guids;
    for (int r = 1; r < grid.RowCount(); ++r) {
        if (!grid.cellText(colGuid, r).isEmpty())
            guids << trimRule(grid.cellText(colGuid, r));
    }
    guids.removeDuplicates();
    return guids;
}

QString defaultJournalFolder()
{
    // Named here rather than taken from the application's names, which the window and qalu-cli
    // set differently.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/qalu-update/journal");
}

QStringList journalFiles(const QString &folder)
{
    const QDir dir(folder);
    QStringList names = dir.entryList({ QStringLiteral("run-*.json") }, QDir::Files, QDir::Name);
    QStringList paths;
    for (const QString &name : names)
        paths << dir.filePath(name);
    return paths;
}

QString findJournal(const QString &folder, const QString &name)
{
    if (name == u"latest") {
        const QStringList files = journalFiles(folder);
        if (files.isEmpty())
            throw BadInput(QStringLiteral("no journals in '%1'").arg(folder));
        return files.constLast();
    }
    if (QFileInfo(name).isFile())
        return name;
    const QString inFolder = QDir(folder).filePath(name);
    if (!name.contains(u'/') && QFileInfo(inFolder).isFile())
        return inFolder;
    throw BadInput(QStringLiteral("no journal '%1' (nor in '%2')").arg(name, folder));
}

RunJournal::RunJournal(db::TConnection &connection, QString folder)
    : m_connection(connection)
    , m_folder(folder.isEmpty() ? defaultJournalFolder() : std::move(folder))
{
}

void RunJournal::takeSnapshot(const TStringGrid &grid)
{
    m_taken = true;
    try {
        m_snapshot = readPrices(m_connection, updateGuids(grid));
    } catch (...) {
        m_snapshotFailure = failureText(std::current_exception());
        throw;
    }
}

QString RunJournal::write(const UpdateReport &report)
{
    QString failure;
    if (!m_snapshotFailure.isEmpty())
        failure = QStringLiteral("the old prices could not be read: ") + m_snapshotFailure;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDir dir(m_folder);
    if (failure.isEmpty() && !QDir().mkpath(m_folder))
        failure = QStringLiteral("cannot create the folder '%1'").arg(m_folder);
    if (failure.isEmpty()) {
        const QJsonObject journal
            = journalToJson(now, m_connection.connectionString(), m_taken, m_snapshot, report);
        m_filePath = dir.filePath(freeFileName(dir, now));
        QSaveFile file(m_filePath);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QJsonDocument(journal).toJson(QJsonDocument::Compact));
            if (!file.commit())
                failure = QStringLiteral("cannot write '%1': %2").arg(m_filePath, file.errorString());
        } else {
            failure = QStringLiteral("cannot write '%1': %2").arg(m_filePath, file.errorString());
        }
    }
    if (!failure.isEmpty()) {
        m_filePath.clear();
        qCWarning(lcUpdate).noquote() << "no journal of this run:" << failure;
        return failure;
    }
    QStringList files = journalFiles(m_folder);
    while (files.size() > journalsKept) {
        const QString oldest = files.takeFirst();
        if (!QFile::remove(oldest))
            qCWarning(lcUpdate).noquote() << "cannot remove the old journal" << oldest;
    }
    return QString();
}

} // namespace qalu::update
