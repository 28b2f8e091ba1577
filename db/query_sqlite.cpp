// The SQLite route: statements go to the sqlite3 handle of the QSQLITE connection itself. QSQLITE
// reports named placeholders, so QSqlQuery::prepare runs Qt's placeholder scans over the text and
// may hand SQLite a rewritten one (Qt 6.4 was seen turning '?' into ":0"); it also costs about
// half again the time of the statement on an in-memory database. Debian's QSQLITE plugin links
// the system libsqlite3, as this library does, so both use the one SQLite in the process.

#include "db/connection.h"
#include "db/query_backend.h"
#include "db/sql_failure.h"

#include <QSqlDatabase>
#include <QSqlDriver>

#include <sqlite3.h>

namespace qalu::db::detail {

namespace {

bool isGuidDeclaredType(const char *declared)
{
    if (!declared)
        return false;
    const QByteArray d = QByteArray(declared).toUpper();
    return d.contains("UNIQUEIDENTIFIER") || d.contains("GUID") || d == "UUID";
}

Failure sqliteFailure(sqlite3 *h)
{
    const auto *msg = static_cast<const QChar *>(sqlite3_errmsg16(h));
    return sqlFailure(msg ? QString(msg) : QString(), QString::number(sqlite3_extended_errcode(h)));
}

struct StatementGuard
{
    sqlite3_stmt *stmt = nullptr;
    ~StatementGuard() { sqlite3_finalize(stmt); }
};

void bindSqlite(sqlite3 *h, sqlite3_stmt *st, int index, const Parameter &p)
{
    int rc = SQLITE_OK;
    switch (p.value.typeId()) {
    case QMetaType::Double:
        rc = sqlite3_bind_double(st, index, p.value.toDouble());
        break;
    case QMetaType::Int:
        rc = sqlite3_bind_int(st, index, p.value.toInt());
        break;
    case QMetaType::QString: {
        // The value outlives the step, so SQLite may use it in place. A zero-length text must
        // still have a non-null pointer, or SQLite binds NULL.
        const QString &s = textOf(p.value);
        const void *data = s.isEmpty() ? static_cast<const void *>(u"") : s.constData();
        rc = sqlite3_bind_text16(st, index, data, int(s.size() * 2), SQLITE_STATIC);
        break;
    }
    default:
        throw noValue(p);
    }
    if (rc != SQLITE_OK)
        throw sqliteFailure(h);
}

QVariant readSqlite(sqlite3_stmt *st, int i)
{
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(st, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(st, i));
    case SQLITE_TEXT: {
        const auto *text = static_cast<const QChar *>(sqlite3_column_text16(st, i));
        return QVariant(QString(text, sqlite3_column_bytes16(st, i) / 2));
    }
    case SQLITE_BLOB: {
        const auto *blob = static_cast<const char *>(sqlite3_column_blob(st, i));
        return QVariant(QByteArray(blob, sqlite3_column_bytes(st, i)));
    }
    default:
        return QVariant();
    }
}

bool onlyBlanks(const void *tail, qsizetype bytes)
{
    const auto *c = static_cast<const char16_t *>(tail);
    for (qsizetype i = 0; i < bytes / 2; ++i) {
        if (c[i] > 32)
            return false;
    }
    return true;
}

int runSqlite(sqlite3 *h, const QString &text, const QList<Parameter> &params, int busyMs, QList<Row> *rows)
{
    sqlite3_busy_timeout(h, busyMs);
    const void *pos = text.constData();
    qsizetype bytesLeft = text.size() * 2;
    qsizetype next = 0;
    int affected = 0;
    bool haveRows = false;
    // A text may hold several statements, as a batch would; they run in order, each committing
    // by itself, and the parameters are handed out to them in order.
    while (bytesLeft > 0) {
        StatementGuard g;
        const void *tail = nullptr;
        if (sqlite3_prepare16_v2(h, pos, int(bytesLeft), &g.stmt, &tail) != SQLITE_OK)
            throw sqliteFailure(h);
        bytesLeft -= static_cast<const char *>(tail) - static_cast<const char *>(pos);
        pos = tail;
        if (!g.stmt)
            break;
        const int count = sqlite3_bind_parameter_count(g.stmt);
        const bool last = onlyBlanks(pos, bytesLeft);
        if (next + count > params.size() || (last && next + count != params.size()))
            throw placeholderMismatch(next + count, params.size());
        for (int i = 0; i < count; ++i)
            bindSqlite(h, g.stmt, i + 1, params.at(next + i));
        next += count;

        const int columns = sqlite3_column_count(g.stmt);
        const bool collect = rows && columns > 0 && !haveRows;
        QList<bool> guidColumn;
        if (collect) {
            for (int c = 0; c < columns; ++c)
                guidColumn << isGuidDeclaredType(sqlite3_column_decltype(g.stmt, c));
        }
        int rc;
        while ((rc = sqlite3_step(g.stmt)) == SQLITE_ROW) {
            if (!collect)
                continue;
            Row row;
            row.reserve(columns);
            for (int c = 0; c < columns; ++c) {
                QVariant v = readSqlite(g.stmt, c);
                row << (guidColumn.at(c) ? guidText(v) : v);
            }
            rows->append(std::move(row));
        }
        if (rc != SQLITE_DONE)
            throw sqliteFailure(h);
        haveRows = haveRows || collect;
        affected = columns > 0 ? 0 : sqlite3_changes(h);
    }
    if (next != params.size())
        throw placeholderMismatch(next, params.size());
    return affected;
}

sqlite3 *sqliteHandle(const QSqlDatabase &db)
{
    const QVariant h = db.driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0)
        throw Failure(QStringLiteral("The SQLite connection has no database handle"));
    sqlite3 *handle = *static_cast<sqlite3 *const *>(h.constData());
    if (!handle)
        throw Failure(QStringLiteral("The SQLite connection has no database handle"));
    return handle;
}

// QSQLITE's own default busy timeout, for the query objects that keep the driver's default.
constexpr int sqliteDefaultBusyMs = 5000;

class SqliteBackend final : public QueryBackend
{
public:
    SqliteBackend(sqlite3 *handle, int commandTimeoutSeconds)
        : m_handle(handle)
        , m_busyMs(commandTimeoutSeconds > 0 ? commandTimeoutSeconds * 1000 : sqliteDefaultBusyMs)
    {
    }

    int run(const QString &commandText, const QList<Parameter> &params, QList<Row> *rows) override
    {
        // The dialect rewrite runs once per text.
        if (!m_dialectValid || commandText != m_source) {
            m_source = commandText;
            m_dialect = sqliteDialect(commandText);
            m_dialectValid = true;
        }
        return runSqlite(m_handle, m_dialect, params, m_busyMs, rows);
    }

private:
    sqlite3 *m_handle;
    int m_busyMs;
    QString m_source;
    QString m_dialect;
    bool m_dialectValid = false;
};

} // namespace

std::unique_ptr<QueryBackend> makeSqliteBackend(const QSqlDatabase &db, int commandTimeoutSeconds)
{
    return std::make_unique<SqliteBackend>(sqliteHandle(db), commandTimeoutSeconds);
}

} // namespace qalu::db::detail
