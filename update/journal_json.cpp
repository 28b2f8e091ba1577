#include "core/failure.h"
#include "db/connection_string.h"
#include "update/report_json.h"
#include "update/run_journal.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <cmath>

namespace qalu::update {

namespace {

// Reads the values of one journal, naming the place of anything that is not as written.
class Reader
{
public:
    explicit Reader(QString file)
        : m_file(std::move(file))
    {
    }

    [[noreturn]] void fail(const QString &where, const QString &what) const
    {
        throw BadInput(QStringLiteral("%1: %2 %3").arg(m_file, where, what));
    }

    QJsonValue member(const QJsonObject &o, const QString &where, const char *key) const
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            fail(where, QStringLiteral("has no \"%1\"").arg(QLatin1String(key)));
        return v;
    }

    QString text(const QJsonObject &o, const QString &where, const char *key) const
    {
        const QJsonValue v = member(o, where, key);
        if (!v.isString())
            fail(where + u'.' + QLatin1String(key), QStringLiteral("is not a text"));
        return v.toString();
    }

    QString guid(const QJsonObject &o, const QString &where) const
    {
        const QString g = text(o, where, "guid");
        bool bad = g.isEmpty() || g.size() > 100 || g.trimmed() != g;
        for (const QChar c : g)
            bad = bad || c.unicode() < 0x20 || c.unicode() == 0x7f;
        if (bad)
            fail(where + QStringLiteral(".guid"), QStringLiteral("is not a guid"));
        return g;
    }

    qint64 integer(const QJsonObject &o, const QString &where, const char *key) const
    {
        const QJsonValue v = member(o, where, key);
        const double d = v.toDouble();
        if (!v.isDouble() || d != std::floor(d) || std::abs(d) > 2147483647.0)
            fail(where + u'.' + QLatin1String(key), QStringLiteral("is not a whole number"));
        return qint64(d);
    }

    QJsonObject object(const QJsonValue &v, const QString &where) const
    {
        if (!v.isObject())
            fail(where, QStringLiteral("is not an object"));
        return v.toObject();
    }

    QJsonArray array(const QJsonValue &v, const QString &where) const
    {
        if (!v.isArray())
            fail(where, QStringLiteral("is not a list"));
        return v.toArray();
    }

    Prices prices(const QJsonValue &v, const QString &where) const
    {
        const QJsonArray a = array(v, where);
        if (a.size() != 4)
            fail(where, QStringLiteral("does not hold four prices"));
        Prices p {};
        for (int i = 0; i < 4; ++i) {
            if (!a[i].isDouble() || !std::isfinite(a[i].toDouble()))
                fail(where, QStringLiteral("holds something that is not a price"));
            p[size_t(i)] = a[i].toDouble();
        }
        return p;
    }

private:
    QString m_file;
};

} // namespace

namespace {

QJsonArray pricesJson(const Prices &p)
{
    return QJsonArray { p[0], p[1], p[2], p[3] };
}

} // namespace

QJsonObject journalStartJson(const QDateTime &utc, const QString &connectionString, const QString &identity,
    const QString &workbook, const PriceSnapshot &snapshot, const QStringList &noMedicine,
    const QList<PlannedRow> &planned)
{
    QJsonArray old;
    for (auto it = snapshot.cbegin(); it != snapshot.cend(); ++it)
        old.append(
            QJsonObject { { QStringLiteral("guid"), it.key() }, { QStringLiteral("old"), pricesJson(*it) } });
    QJsonArray rows;
    for (const PlannedRow &row : planned)
        rows.append(QJsonObject { { QStringLiteral("sheet_row"), row.sheetRow },
            { QStringLiteral("guid"), row.guid }, { QStringLiteral("new"), pricesJson(row.prices) } });
    QString sha;
    if (QFile file(workbook); !workbook.isEmpty() && file.open(QIODevice::ReadOnly)) {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (hash.addData(&file))
            sha = QString::fromLatin1(hash.result().toHex());
    }
    return QJsonObject {
        { QStringLiteral("journal"), 2 },
        { QStringLiteral("state"), QStringLiteral("started") },
        { QStringLiteral("time"), utc.toString(Qt::ISODateWithMs) },
        { QStringLiteral("workbook"),
            workbook.isEmpty() ? QString() : QFileInfo(workbook).absoluteFilePath() },
        { QStringLiteral("workbook_sha256"), sha.isEmpty() ? QJsonValue() : QJsonValue(sha) },
        { QStringLiteral("database"), db::withoutCredentials(connectionString) },
        { QStringLiteral("database_id"), identity },
        { QStringLiteral("snapshot_taken"), true },
        { QStringLiteral("snapshot"), old },
        { QStringLiteral("no_medicine"), QJsonArray::fromStringList(noMedicine) },
        { QStringLiteral("planned"), rows },
    };
}

QJsonObject journalCompletedJson(QJsonObject started, const UpdateReport &report)
{
    const QJsonObject reportJson = reportToJson(report);
    started.insert(QStringLiteral("state"), QStringLiteral("completed"));
    started.insert(QStringLiteral("outcome"), reportJson.value(QStringLiteral("outcome")));
    started.insert(QStringLiteral("report"), reportJson);
    return started;
}

Journal readJournal(const QString &path)
{
    const Reader r(path);
    const QByteArray bytes = readJournalFile(path);
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw BadInput(QStringLiteral("%1: not a journal (broken JSON at byte %2: %3)")
                           .arg(path)
                           .arg(error.offset)
                           .arg(error.errorString()));
    const QJsonObject top
        = r.object(doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(), QStringLiteral("the document"));
    const QString root = QStringLiteral("the journal");
    const qint64 version = r.integer(top, root, "journal");
    if (version != 1 && version != 2)
        r.fail(root, QStringLiteral("is of a version this program does not know"));

    Journal j;
    j.file = path;
    j.document = top;
    j.version = int(version);
    j.time = r.text(top, root, "time");
    j.workbook = r.text(top, root, "workbook");
    j.database = r.text(top, root, "database");
    bool finished = true;
    if (version >= 2) {
        j.identity = r.text(top, root, "database_id");
        const QString state = r.text(top, root, "state");
        if (state != u"started" && state != u"completed")
            r.fail(QStringLiteral("state"), QStringLiteral("is neither started nor completed"));
        finished = state == u"completed";
    }
    if (finished) {
        j.outcome = r.text(top, root, "outcome");
        if (!QStringList {
                QStringLiteral("completed"), QStringLiteral("read-failed"), QStringLiteral("row-failed") }
                 .contains(j.outcome))
            r.fail(QStringLiteral("outcome"), QStringLiteral("is not a run's outcome"));
    } else {
        j.outcome = journalRunning(path) ? QStringLiteral("running") : QStringLiteral("interrupted");
    }
    const QJsonValue sha = r.member(top, root, "workbook_sha256");
    if (!sha.isNull() && !sha.isString())
        r.fail(QStringLiteral("workbook_sha256"), QStringLiteral("is not a text"));
    j.workbookSha256 = sha.toString();

    PriceSnapshot snapshot;
    const QJsonArray snap = r.array(r.member(top, root, "snapshot"), QStringLiteral("snapshot"));
    for (qsizetype i = 0; i < snap.size(); ++i) {
        const QString where = QStringLiteral("snapshot[%1]").arg(i);
        const QJsonObject o = r.object(snap[i], where);
        const QString guid = r.guid(o, where);
        if (snapshot.contains(guid))
            r.fail(where, QStringLiteral("names a medicine twice"));
        snapshot.insert(guid, r.prices(r.member(o, where, "old"), where + QStringLiteral(".old")));
    }
    // The guids the database did not have when the old prices were read: their rows change nothing.
    QSet<QString> noMedicine;
    if (version >= 2) {
        const QJsonArray none = r.array(r.member(top, root, "no_medicine"), QStringLiteral("no_medicine"));
        for (qsizetype i = 0; i < none.size(); ++i) {
            if (!none[i].isString())
                r.fail(QStringLiteral("no_medicine[%1]").arg(i), QStringLiteral("is not a guid"));
            noMedicine.insert(none[i].toString());
        }
    }

    QHash<QString, qsizetype> changeAt;
    // A row that wrote (or was about to write) `prices` for `guid`. One whose guid matched a
    // medicine must find its old prices: without them the journal cannot be trusted at all.
    const auto take = [&](const QString &where, const QString &guid, const Prices &prices, bool matched) {
        if (!snapshot.contains(guid)) {
            if (!matched)
                return;
            r.fail(where,
                QStringLiteral(
                    "has no old prices in the snapshot; nothing can be restored from this journal"));
        }
        if (const auto at = changeAt.constFind(guid); at != changeAt.cend()) {
            JournalChange &change = j.changes[*at];
            change.written = prices; // a later row of the list wins, as in the run
            if (finished)
                change.runWrote = { prices };
            else
                change.runWrote.append(prices);
        } else {
            changeAt.insert(guid, j.changes.size());
            j.changes.append({ guid, snapshot.value(guid), prices, { prices } });
        }
    };

    if (!finished) {
        const QJsonArray planned = r.array(r.member(top, root, "planned"), QStringLiteral("planned"));
        for (qsizetype i = 0; i < planned.size(); ++i) {
            const QString where = QStringLiteral("planned[%1]").arg(i);
            const QJsonObject o = r.object(planned[i], where);
            r.integer(o, where, "sheet_row");
            const QString guid = r.guid(o, where);
            take(where, guid, r.prices(r.member(o, where, "new"), where + QStringLiteral(".new")),
                !noMedicine.contains(guid));
        }
        return j;
    }

    const QJsonObject report = r.object(r.member(top, root, "report"), QStringLiteral("report"));
    const QJsonArray rows
        = r.array(r.member(report, QStringLiteral("report"), "rows"), QStringLiteral("rows"));
    // An atomic run that was rolled back changed nothing, whatever its rows say.
    const bool rolledBack = report.value(QStringLiteral("rolled_back")).toBool();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QString where = QStringLiteral("rows[%1]").arg(i);
        const QJsonObject o = r.object(rows[i], where);
        r.integer(o, where, "sheet_row");
        const QString kind = r.text(o, where, "kind");
        const QString status = r.text(o, where, "status");
        if (!QStringList {
                QStringLiteral("applied"), QStringLiteral("failed"), QStringLiteral("not-reached") }
                 .contains(status))
            r.fail(where + QStringLiteral(".status"), QStringLiteral("is not a row's status"));
        const bool applied = status == u"applied" && !rolledBack;
        if (kind == u"update") {
            const QString guid = r.guid(o, where);
            const QJsonValue written = r.member(o, where, "new");
            if (!applied) {
                if (!written.isNull())
                    r.prices(written, where + QStringLiteral(".new"));
                continue;
            }
            // A report that counts the rows its statement matched says so; the first format
            // tells nothing else about a guid missing from the snapshot.
            const QJsonValue matched = o.value(QStringLiteral("matched"));
            const bool matchedSome = version == 1
                ? matched.isDouble() && matched.toDouble() > 0
                : !noMedicine.contains(guid) && !(matched.isDouble() && matched.toDouble() == 0);
            take(where, guid, r.prices(written, where + QStringLiteral(".new")), matchedSome);
        } else if (kind == u"insert") {
            const qint64 matNum = r.integer(o, where, "mat_num");
            const QString name = r.text(o, where, "name");
            if (applied)
                j.inserts.append({ qint32(matNum), name });
        } else {
            r.fail(where + QStringLiteral(".kind"), QStringLiteral("is neither update nor insert"));
        }
    }
    const QJsonArray categories = r.array(
        r.member(report, QStringLiteral("report"), "new_categories"), QStringLiteral("new_categories"));
    for (qsizetype i = 0; i < categories.size(); ++i) {
        if (!categories[i].isString())
            r.fail(QStringLiteral("new_categories[%1]").arg(i), QStringLiteral("is not a text"));
        j.newCategories << categories[i].toString();
    }
    return j;
}

int changedCount(const Journal &journal)
{
    int changed = 0;
    for (const JournalChange &change : journal.changes)
        changed += change.written != change.old ? 1 : 0;
    return changed;
}

QJsonObject journalEntryJson(const QString &fileName, const Journal &journal)
{
    return QJsonObject { { QStringLiteral("file"), fileName }, { QStringLiteral("time"), journal.time },
        { QStringLiteral("workbook"), journal.workbook }, { QStringLiteral("outcome"), journal.outcome },
        { QStringLiteral("database"),
            journal.identity.isEmpty() ? db::withoutCredentials(journal.database) : journal.identity },
        { QStringLiteral("changed"), changedCount(journal) },
        { QStringLiteral("inserted"), journal.inserts.size() } };
}

QJsonObject unreadableJournalJson(const QString &fileName, const QString &problem)
{
    return QJsonObject { { QStringLiteral("file"), fileName }, { QStringLiteral("unreadable"), problem } };
}

} // namespace qalu::update
