#include "update/run_journal.h"

#include "core/failure.h"
#include "core/failure_text.h"
#include "core/logging.h"
#include "core/trim.h"
#include "db/connection.h"
#include "db/query.h"
#include "intake/price_grid.h"
#include "update/report_json.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QMultiHash>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// run-YYYYMMDDTHHMMSS.mmmZ-NN-TAG.json: sorts by time, unique within a millisecond by NN, TAG
// the database's.
QString freeFileName(const QDir &dir, const QDateTime &utc, const QString &tag)
{
    const QString stem = QStringLiteral("run-") + utc.toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    for (int n = 0;; ++n) {
        const QString number = QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
        const QStringList taken = dir.entryList({ QStringLiteral("%1-%2*").arg(stem, number) },
            QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
        if (taken.isEmpty())
            return QStringLiteral("%1-%2-%3.json").arg(stem, number, tag);
    }
}

// Makes the folder's new entry durable (POSIX: the rename lives in the folder).
bool syncFolder(const QString &folder)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
#else
    Q_UNUSED(folder);
    return true;
#endif
}

// Writes `document` to `path` whole, on disk, in one rename; returns why not, or the empty text.
QString writeDurably(const QString &path, const QJsonObject &document)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write '%1': %2").arg(path, file.errorString());
    const QByteArray bytes = QJsonDocument(document).toJson(QJsonDocument::Compact);
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString why = QStringLiteral("cannot write '%1': %2").arg(path, file.errorString());
        file.cancelWriting();
        return why;
    }
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return QStringLiteral("cannot write '%1': %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
#endif
    if (!file.commit())
        return QStringLiteral("cannot write '%1': %2").arg(path, file.errorString());
    if (!syncFolder(QFileInfo(path).absolutePath()))
        return QStringLiteral("cannot flush the folder of '%1'").arg(path);
    return QString();
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

QList<PlannedRow> plannedUpdates(const TStringGrid &grid, QChar decimalSeparator)
{
    QList<PlannedRow> planned;
    for (int r = 1; r < grid.RowCount(); ++r) {
        const bool update = !grid.cellText(colGuid, r).isEmpty();
        PlannedRow row { r + 1, trimRule(grid.cellText(colGuid, r)), {} };
        if (update) {
            for (size_t i = 0; i < 4; ++i) {
                const PriceCell cell = priceCell(grid, updatePriceColumns[i], r, decimalSeparator);
                if (!cell.problem.isEmpty())
                    return planned;
                row.prices[i] = cell.empty() ? 0 : cell.value;
            }
            planned.append(row);
            continue;
        }
        for (const int column : insertPriceColumns) {
            if (!priceCell(grid, column, r, decimalSeparator).problem.isEmpty())
                return planned;
        }
    }
    return planned;
}

QString defaultJournalFolder()
{
    // Named here rather than taken from the application's names, which the window and qalu-cli
    // set differently.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/qalu-update/journal");
}

QString databaseTag(const QString &identity)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex().left(8));
}

RunJournal::RunJournal(db::TConnection &connection, QString folder, QChar decimalSeparator, QString workbook)
    : m_connection(connection)
    , m_folder(folder.isEmpty() ? defaultJournalFolder() : std::move(folder))
    , m_separator(decimalSeparator)
    , m_workbook(std::move(workbook))
{
}

RunJournal::~RunJournal() = default;

void RunJournal::discard(const QString &why)
{
    m_failure = why;
    if (!m_filePath.isEmpty() && QFileInfo::exists(m_filePath) && !QFile::remove(m_filePath))
        m_failure += QStringLiteral(" (and the broken journal '%1' cannot be removed)").arg(m_filePath);
    m_filePath.clear();
    m_lock.reset();
    qCWarning(lcUpdate).noquote() << "no journal of this run:" << m_failure;
}

void RunJournal::begin(const TStringGrid &grid, bool required)
{
    try {
        const QString identity = m_connection.identity();
        m_tag = databaseTag(identity);
        const QStringList guids = updateGuids(grid);
        const PriceSnapshot snapshot = readPrices(m_connection, guids);
        m_snapshot = snapshot;
        QStringList noMedicine;
        for (const QString &guid : guids) {
            if (!snapshot.contains(guid))
                noMedicine << guid;
        }
        const QDateTime now = QDateTime::currentDateTimeUtc();
        m_started = journalStartJson(now, m_connection.connectionString(), identity, m_workbook, snapshot,
            noMedicine, plannedUpdates(grid, m_separator));
        if (!QDir().mkpath(m_folder))
            throw Failure(QStringLiteral("cannot create the folder '%1'").arg(m_folder));
        const QDir dir(m_folder);
        const QString path = dir.filePath(freeFileName(dir, now, m_tag));
        m_lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
        if (!m_lock->tryLock(0))
            throw Failure(QStringLiteral("cannot lock '%1'").arg(path));
        m_filePath = path;
        if (const QString why = writeDurably(path, m_started); !why.isEmpty())
            throw Failure(why);
    } catch (...) {
        QString why = failureText(std::current_exception());
        if (m_started.isEmpty() && !why.startsWith(u"cannot"))
            why = QStringLiteral("the old prices could not be read: ") + why;
        discard(why);
        if (required)
            throw JournalRefused { m_failure };
    }
}

QString RunJournal::write(const UpdateReport &report)
{
    if (m_filePath.isEmpty() && !m_failure.isEmpty())
        return m_failure;
    if (m_filePath.isEmpty()) {
        // The list was never read: nothing was about to change, the journal is written at once.
        const QString identity = m_connection.identity();
        m_tag = databaseTag(identity);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        m_started = journalStartJson(now, m_connection.connectionString(), identity, m_workbook, {}, {}, {});
        if (!QDir().mkpath(m_folder)) {
            discard(QStringLiteral("cannot create the folder '%1'").arg(m_folder));
            return m_failure;
        }
        const QDir dir(m_folder);
        m_filePath = dir.filePath(freeFileName(dir, now, m_tag));
    }
    if (const QString why = writeDurably(m_filePath, journalCompletedJson(m_started, report));
        !why.isEmpty()) {
        discard(why);
        return m_failure;
    }
    m_lock.reset();
    const QString ending = QStringLiteral("-%1.json").arg(m_tag);
    QStringList files;
    for (const QString &file : journalFiles(m_folder)) {
        if (file.endsWith(ending))
            files << file;
    }
    while (files.size() > journalsKept) {
        const QString oldest = files.takeFirst();
        if (!QFile::remove(oldest))
            qCWarning(lcUpdate).noquote() << "cannot remove the old journal" << oldest;
    }
    return QString();
}

} // namespace qalu::update
