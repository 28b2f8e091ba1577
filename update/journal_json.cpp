#include "core/failure.h"
#include "db/connection_string.h"
#include "update/report_json.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

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

QJsonObject journalToJson(const QDateTime &utc, const QString &connectionString, bool snapshotTaken,
    const PriceSnapshot &snapshot, const UpdateReport &report)
{
    QJsonArray old;
    for (auto it = snapshot.cbegin(); it != snapshot.cend(); ++it) {
        old.append(QJsonObject { { QStringLiteral("guid"), it.key() },
            { QStringLiteral("old"), QJsonArray { it->at(0), it->at(1), it->at(2), it->at(3) } } });
    }
    QString sha;
    if (QFile file(report.workbook); file.open(QIODevice::ReadOnly)) {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (hash.addData(&file))
            sha = QString::fromLatin1(hash.result().toHex());
    }
    const QJsonObject reportJson = reportToJson(report);
    return QJsonObject {
        { QStringLiteral("journal"), 1 },
        { QStringLiteral("time"), utc.toString(Qt::ISODateWithMs) },
        { QStringLiteral("workbook"),
            report.workbook.isEmpty() ? QString() : QFileInfo(report.workbook).absoluteFilePath() },
        { QStringLiteral("workbook_sha256"), sha.isEmpty() ? QJsonValue() : QJsonValue(sha) },
        { QStringLiteral("database"), db::withoutCredentials(connectionString) },
        { QStringLiteral("snapshot_taken"), snapshotTaken },
        { QStringLiteral("snapshot"), old },
        { QStringLiteral("outcome"), reportJson.value(QStringLiteral("outcome")) },
        { QStringLiteral("report"), reportJson },
    };
}

Journal readJournal(const QString &path)
{
    const Reader r(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw BadInput(QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString()));
    // Journals are small; anything far larger is not one.
    if (file.size() > 256 * 1024 * 1024)
        r.fail(QString(), QStringLiteral("is too large to be a journal"));
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        throw BadInput(QStringLiteral("%1: not a journal (broken JSON at byte %2: %3)")
                           .arg(path)
                           .arg(error.offset)
                           .arg(error.errorString()));
    const QJsonObject top
        = r.object(doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(), QStringLiteral("the document"));
    const QString root = QStringLiteral("the journal");
    if (r.integer(top, root, "journal") != 1)
        r.fail(root, QStringLiteral("is of a version this program does not know"));

    Journal j;
    j.file = path;
    j.document = top;
    j.time = r.text(top, root, "time");
    j.workbook = r.text(top, root, "workbook");
    j.database = r.text(top, root, "database");
    j.outcome = r.text(top, root, "outcome");
    if (!QStringList {
            QStringLiteral("completed"), QStringLiteral("read-failed"), QStringLiteral("row-failed") }
             .contains(j.outcome))
        r.fail(QStringLiteral("outcome"), QStringLiteral("is not a run's outcome"));
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

    const QJsonObject report = r.object(r.member(top, root, "report"), QStringLiteral("report"));
    const QJsonArray rows
        = r.array(r.member(report, QStringLiteral("report"), "rows"), QStringLiteral("rows"));
    QHash<QString, qsizetype> changeAt;
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
        const bool applied = status == u"applied";
        if (kind == u"update") {
            const QString guid = r.guid(o, where);
            const QJsonValue written = r.member(o, where, "new");
            if (!applied) {
                if (!written.isNull())
                    r.prices(written, where + QStringLiteral(".new"));
                continue;
            }
            const Prices prices = r.prices(written, where + QStringLiteral(".new"));
            // A guid the snapshot lacks matched no medicine: the row changed nothing.
            if (!snapshot.contains(guid))
                continue;
            if (const auto at = changeAt.constFind(guid); at != changeAt.cend()) {
                j.changes[*at].written = prices; // a later row of the list wins, as in the run
            } else {
                changeAt.insert(guid, j.changes.size());
                j.changes.append({ guid, snapshot.value(guid), prices });
            }
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

QJsonObject journalEntryJson(const QString &fileName, const Journal &journal)
{
    return QJsonObject { { QStringLiteral("file"), fileName }, { QStringLiteral("time"), journal.time },
        { QStringLiteral("workbook"), journal.workbook }, { QStringLiteral("outcome"), journal.outcome },
        { QStringLiteral("changed"), journal.changes.size() },
        { QStringLiteral("inserted"), journal.inserts.size() } };
}

QJsonObject unreadableJournalJson(const QString &fileName, const QString &problem)
{
    return QJsonObject { { QStringLiteral("file"), fileName }, { QStringLiteral("unreadable"), problem } };
}

} // namespace qalu::update
