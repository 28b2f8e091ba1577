#include "db/run_journal.h"

#include "core/failure.h"
#include "core/failure_text.h"
#include "core/logging.h"
#include "core/trim.h"
#include "db/connection.h"
#include "intake/price_grid.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMultiHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <optional>

namespace qalu::db {

namespace {

// The cap of 1500 sheet rows leaves at most 1499 guids, so every list is one select: within SQL
// Server's 2100 parameters and SQLite's 32766 (since 3.32). An older SQLite refuses it, and the
// refused batch is then asked for guid by guid below.
constexpr int guidsPerSelect = 2000;

double number(const QVariant &value)
{
    bool ok = false;
    const double d = value.toDouble(&ok);
    return ok ? d : 0;
}

QString sha256Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
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

} // namespace

namespace {

// A guid as a database that compares guids as uuids sees it: psqlODBC hands uuids back bare and
// in lower case, SQL Server ignores case.
QString guidKey(const QString &guid)
{
    QString key = guid.trimmed().toLower();
    key.remove(u'{').remove(u'}');
    return key;
}

// One select for `batch`; the rows land under the guid texts asked for.
void selectPrices(QSqlQuery &query, const QStringList &batch, PriceSnapshot &snapshot)
{
    QStringList marks;
    marks.fill(QStringLiteral("?"), batch.size());
    if (!query.prepare(QStringLiteral("select guid,salp,price1,salp2,price2 from mat00 where guid in (%1)")
                           .arg(marks.join(u','))))
        throw sqlFailure(query.lastError());
    for (int i = 0; i < batch.size(); ++i)
        query.bindValue(i, batch[i]);
    if (!query.exec())
        throw sqlFailure(query.lastError());
    // Looked up by hash: a row for each of up to 1499 guids, and a linear search per row made the
    // snapshot take seconds on a server that hands guids back in its own spelling.
    const QSet<QString> exact(batch.cbegin(), batch.cend());
    QMultiHash<QString, QString> byKey;
    while (query.next()) {
        const QString found = query.value(0).toString();
        const Prices prices { number(query.value(1)), number(query.value(2)), number(query.value(3)),
            number(query.value(4)) };
        if (exact.contains(found)) {
            snapshot.insert(found, prices);
            continue;
        }
        if (byKey.isEmpty()) {
            for (const QString &asked : batch)
                byKey.insert(guidKey(asked), asked);
        }
        for (const QString &asked : byKey.values(guidKey(found)))
            snapshot.insert(asked, prices);
    }
    query.finish();
}

} // namespace

PriceSnapshot readPrices(TConnection &connection, const QStringList &guids)
{
    PriceSnapshot snapshot;
    if (!connection.Connected())
        connection.Open();
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
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
        if (!grid.cellText(0, r).isEmpty())
            guids << trimRule(grid.cellText(0, r));
    }
    guids.removeDuplicates();
    return guids;
}

QString withoutPassword(const QString &connectionString)
{
    // The whole key=value pair goes, braced values included.
    static const QRegularExpression password(
        QStringLiteral("(?:^|(?<=;))\\s*(?:pwd|password)\\s*=(?:\\s*\\{[^}]*\\}?|[^;]*);?"),
        QRegularExpression::CaseInsensitiveOption);
    QString text = connectionString;
    return text.remove(password);
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

RunJournal::RunJournal(TConnection &connection, QString folder)
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
        QJsonArray snapshot;
        for (auto it = m_snapshot.cbegin(); it != m_snapshot.cend(); ++it) {
            snapshot.append(QJsonObject { { QStringLiteral("guid"), it.key() },
                { QStringLiteral("old"), QJsonArray { it->at(0), it->at(1), it->at(2), it->at(3) } } });
        }
        const QString sha = sha256Of(report.workbook);
        const QJsonObject journal {
            { QStringLiteral("journal"), 1 },
            { QStringLiteral("time"), now.toString(Qt::ISODateWithMs) },
            { QStringLiteral("workbook"),
                report.workbook.isEmpty() ? QString() : QFileInfo(report.workbook).absoluteFilePath() },
            { QStringLiteral("workbook_sha256"), sha.isEmpty() ? QJsonValue() : QJsonValue(sha) },
            { QStringLiteral("database"), withoutPassword(m_connection.connectionString()) },
            { QStringLiteral("snapshot_taken"), m_taken },
            { QStringLiteral("snapshot"), snapshot },
            { QStringLiteral("outcome"), reportToJson(report).value(QStringLiteral("outcome")) },
            { QStringLiteral("report"), reportToJson(report) },
        };
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

} // namespace qalu::db
