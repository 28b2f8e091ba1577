#include "db/journal_restore.h"

#include "core/failure.h"
#include "db/connection.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>

namespace qalu::db {

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
        throw JournalProblem { QStringLiteral("%1: %2 %3").arg(m_file, where, what) };
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

bool samePrice(double a, double b)
{
    return std::abs(a - b) <= 1e-9 * std::max({ 1.0, std::abs(a), std::abs(b) });
}

Journal readJournal(const QString &path)
{
    const Reader r(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw JournalProblem { QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString()) };
    // Journals are small; anything far larger is not one.
    if (file.size() > 256 * 1024 * 1024)
        r.fail(QString(), QStringLiteral("is too large to be a journal"));
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        throw JournalProblem { QStringLiteral("%1: not a journal (broken JSON at byte %2: %3)")
                                   .arg(path)
                                   .arg(error.offset)
                                   .arg(error.errorString()) };
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

QList<RestoreItem> restoreJournal(TConnection &connection, const Journal &journal, bool force, bool dryRun)
{
    if (!connection.Connected())
        connection.Open();
    QSqlDatabase db = connection.database();
    const bool writing = !dryRun && !journal.changes.isEmpty();
    // Read and write in one transaction, so no one changes a price between the look and the write.
    if (writing && !db.transaction())
        throw sqlFailure(db.lastError());
    try {
        QStringList guids;
        for (const JournalChange &change : journal.changes)
            guids << change.guid;
        const PriceSnapshot current = readPrices(connection, guids);

        QList<RestoreItem> items;
        for (const JournalChange &change : journal.changes) {
            const auto now = current.constFind(change.guid);
            if (now == current.cend())
                throw JournalProblem { QStringLiteral(
                    "%1: the medicine %2 is not in this database (is the journal "
                    "of another database?); nothing was changed")
                                           .arg(journal.file, change.guid) };
            RestoreItem item { change, *now, RestoreState::Restored };
            const auto same = [](const Prices &a, const Prices &b) {
                for (size_t i = 0; i < 4; ++i) {
                    if (!samePrice(a[i], b[i]))
                        return false;
                }
                return true;
            };
            if (same(*now, change.old))
                item.state = RestoreState::AlreadyOld;
            else if (!same(*now, change.written))
                item.state = force ? RestoreState::Forced : RestoreState::LeftAlone;
            items.append(item);
        }

        if (writing) {
            QSqlQuery update(db);
            if (!update.prepare(
                    QStringLiteral("update mat00 set salp= ?,price1= ?,salp2= ?,price2= ? where guid= ?")))
                throw sqlFailure(update.lastError());
            for (const RestoreItem &item : items) {
                if (item.state != RestoreState::Restored && item.state != RestoreState::Forced)
                    continue;
                for (int i = 0; i < 4; ++i)
                    update.bindValue(i, item.change.old[size_t(i)]);
                update.bindValue(4, item.change.guid);
                if (!update.exec())
                    throw sqlFailure(update.lastError());
            }
            update.finish();
            if (!db.commit())
                throw sqlFailure(db.lastError());
        }
        return items;
    } catch (...) {
        if (writing)
            db.rollback();
        throw;
    }
}

} // namespace qalu::db
