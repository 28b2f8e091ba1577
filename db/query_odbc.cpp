// The ODBC route, through QSqlQuery with positional binding. QODBC reports no named
// placeholders, so prepare() runs Qt's named-to-positional scan over the text: a colon outside
// '...' followed by a letter, digit or underscore (and not preceded by a colon) becomes '?' and a
// named slot, which boundValues() then counts before anything is bound. Our marker parse leaves
// such a colon only from "::" or inside grave accents; then the text would not reach the driver
// as written, so a statement without parameters runs unprepared (exec(text) passes it on
// untouched) and one with parameters is refused with a clear failure.

#include "db/connection.h"
#include "db/query_backend.h"
#include "db/sql_failure.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>

#include <algorithm>
#include <vector>

#ifdef _WIN32
#include <windows.h> // the ODBC headers use its types there
#endif
#include <sql.h>
#include <sqlext.h>

namespace qalu::db::detail {

namespace {

void setQueryTimeout(const QSqlQuery &q, int seconds)
{
    if (seconds <= 0 || !q.result())
        return;
    const QVariant h = q.result()->handle();
    if (!h.isValid() || h.typeId() != QMetaType::VoidStar)
        return;
    SQLHANDLE stmt = *static_cast<SQLHANDLE const *>(h.constData());
    if (stmt)
        SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(quintptr(seconds)), 0);
}

// One prepared statement: its text, Qt's query holding the driver's statement handle, and what
// was already set on that handle.
struct Prepared
{
    QString text;
    std::unique_ptr<QSqlQuery> query;
    bool direct = false; // runs unprepared, see above
    int timeoutOnHandle = 0; // a fresh handle has the driver's default
};

// Keeps the prepared statements of the last few texts, most recent first, and rebinds and
// executes them: a prepare costs the server a round trip or two (and an unprepare when the handle
// is freed), an execution of a prepared statement one. More than one text is kept because the
// run alternates its update and insert texts on one query object and a new category cycles one
// object through four texts; eight covers both with room to spare.
class OdbcBackend final : public QueryBackend
{
public:
    OdbcBackend(const QSqlDatabase &db, int commandTimeoutSeconds)
        : m_db(db)
        , m_timeout(commandTimeoutSeconds)
    {
    }

    int run(const QString &commandText, const QList<Parameter> &params, QList<Row> *rows) override
    {
        Prepared &p = statementFor(commandText, !params.isEmpty());
        try {
            return execute(p, params, rows);
        } catch (...) {
            // A statement that failed is not trusted again: the next run of its text prepares
            // afresh, on a new handle.
            m_cache.erase(m_cache.begin());
            throw;
        }
    }

private:
    static constexpr std::size_t cacheSize = 8;
    QSqlDatabase m_db;
    int m_timeout;
    std::vector<Prepared> m_cache;

    // The prepared statement for the text, moved to the front; prepared when it is not kept.
    Prepared &statementFor(const QString &text, bool hasParams)
    {
        for (auto it = m_cache.begin(); it != m_cache.end(); ++it) {
            if (it->text == text) {
                std::rotate(m_cache.begin(), it, it + 1);
                return m_cache.front();
            }
        }
        Prepared p;
        p.text = text;
        p.query = std::make_unique<QSqlQuery>(m_db);
        p.query->setForwardOnly(true);
        if (!p.query->prepare(text))
            throw sqlFailure(p.query->lastError());
        if (!p.query->boundValues().isEmpty()) {
            if (hasParams)
                throw Failure(QStringLiteral(
                    "The statement text holds a colon that Qt's SQL layer would take for a placeholder"));
            p.direct = true;
        }
        if (m_cache.size() == cacheSize)
            m_cache.pop_back();
        m_cache.insert(m_cache.begin(), std::move(p));
        return m_cache.front();
    }

    int execute(Prepared &p, const QList<Parameter> &params, QList<Row> *rows)
    {
        QSqlQuery &q = *p.query;
        if (p.direct) {
            if (!q.exec(p.text))
                throw sqlFailure(q.lastError());
        } else {
            if (m_timeout > 0 && p.timeoutOnHandle != m_timeout) {
                setQueryTimeout(q, m_timeout);
                p.timeoutOnHandle = m_timeout;
            }
            for (qsizetype i = 0; i < params.size(); ++i) {
                const Parameter &param = params.at(i);
                if (!param.value.isValid())
                    throw noValue(param);
                q.bindValue(int(i), param.value);
            }
            if (!q.exec())
                throw sqlFailure(q.lastError());
        }
        const int affected = q.numRowsAffected();
        if (rows && q.isSelect()) {
            const QSqlRecord record = q.record();
            const int columns = record.count();
            QList<bool> guidColumn;
            for (int c = 0; c < columns; ++c)
                guidColumn << (record.field(c).typeID() == SQL_GUID);
            while (q.next()) {
                Row row;
                row.reserve(columns);
                for (int c = 0; c < columns; ++c) {
                    const QVariant v = q.value(c);
                    row << (v.isNull() ? QVariant() : guidColumn.at(c) ? guidText(v) : v);
                }
                rows->append(std::move(row));
            }
            if (q.lastError().isValid())
                throw sqlFailure(q.lastError());
        }
        // Closes the cursor (the handle and its prepared statement stay), so the connection is
        // free for the next statement.
        q.finish();
        return affected;
    }
};

} // namespace

std::unique_ptr<QueryBackend> makeOdbcBackend(const QSqlDatabase &db, int commandTimeoutSeconds)
{
    return std::make_unique<OdbcBackend>(db, commandTimeoutSeconds);
}

} // namespace qalu::db::detail
