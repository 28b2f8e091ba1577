#pragma once

// Records every statement text that reaches SQLite on a connection, as the library received it
// (with its '?' markers, blanks and line ends), through sqlite3_trace_v2 on the driver's handle.
// Leaves out the busy-timeout pragma the Qt route sends when a query object's timeout differs
// from the connection's (housekeeping, as the timeout settings on a server are).
// Links PkgConfig::SQLITE3; the Qt SQLite driver uses the same system library.

#include "core/failure.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

namespace qalu::testdb {

class SqliteTrace
{
public:
    explicit SqliteTrace(const QSqlDatabase &db)
    {
        const QVariant handle = db.driver()->handle();
        if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
            throw Failure(QStringLiteral("not a SQLite connection"));
        m_db = *static_cast<sqlite3 *const *>(handle.constData());
        sqlite3_trace_v2(m_db, SQLITE_TRACE_STMT, &SqliteTrace::callback, this);
    }
    ~SqliteTrace() { sqlite3_trace_v2(m_db, 0, nullptr, nullptr); }
    SqliteTrace(const SqliteTrace &) = delete;
    SqliteTrace &operator=(const SqliteTrace &) = delete;

    QStringList statements;
    // The same statements with their bound values written in (texts quoted, doubles with a
    // fraction or exponent, integers plain).
    QStringList expanded;

private:
    static int callback(unsigned, void *self, void *stmt, void *)
    {
        auto *trace = static_cast<SqliteTrace *>(self);
        auto *statement = static_cast<sqlite3_stmt *>(stmt);
        const QString sql = QString::fromUtf8(sqlite3_sql(statement));
        if (sql.startsWith(QLatin1StringView("PRAGMA busy_timeout = ")))
            return 0;
        trace->statements << sql;
        char *full = sqlite3_expanded_sql(statement);
        trace->expanded << QString::fromUtf8(full);
        sqlite3_free(full);
        return 0;
    }

    sqlite3 *m_db = nullptr;
};

} // namespace qalu::testdb
