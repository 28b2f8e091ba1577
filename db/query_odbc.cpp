// The ODBC route, through QSqlQuery with positional binding. QODBC reports no named
// placeholders, so prepare() runs Qt's named-to-positional scan over the text: a colon outside
// '...' followed by a letter, digit or underscore (and not preceded by a colon) becomes '?' and a
// named slot, which boundValues() then counts before anything is bound. Our marker parse leaves
// such a colon only from "::" or inside grave accents; then the text would not reach the driver
// as written, so a statement without parameters runs unprepared (exec(text) passes it on
// untouched) and one with parameters is refused with a clear failure.

#include "db/connection.h"
#include "db/query_backend.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>

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

int runOdbc(const QSqlDatabase &db, const QString &text, const QList<Parameter> &params, int timeout,
    QList<Row> *rows)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(text))
        throw sqlFailure(q.lastError());
    if (!q.boundValues().isEmpty()) {
        if (!params.isEmpty())
            throw Failure(QStringLiteral(
                "The statement text holds a colon that Qt's SQL layer would take for a placeholder"));
        if (!q.exec(text))
            throw sqlFailure(q.lastError());
    } else {
        setQueryTimeout(q, timeout);
        for (const Parameter &p : params) {
            if (!p.value.isValid())
                throw noValue(p);
            q.addBindValue(p.value);
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
    return affected;
}

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
        return runOdbc(m_db, commandText, params, m_timeout, rows);
    }

private:
    QSqlDatabase m_db;
    int m_timeout;
};

} // namespace

std::unique_ptr<QueryBackend> makeOdbcBackend(const QSqlDatabase &db, int commandTimeoutSeconds)
{
    return std::make_unique<OdbcBackend>(db, commandTimeoutSeconds);
}

} // namespace qalu::db::detail
