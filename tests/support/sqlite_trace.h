#pragma once

// Records every statement text that reaches SQLite on a connection, as the library received it
// (with its '?' markers, blanks and line ends), through sqlite3_trace_v2 on the driver's handle.
// Leaves out the busy-timeout pragma the Qt route sends when a query object's timeout differs
// from the connection's (housekeeping, as the timeout settings on a server are).
// Links SQLite::SQLite3, which must be the library Qt's SQLite plugin links (Debian's Qt, the
// MinGW prefix of scripts/build-windows-deps). Where the plugin carries its own SQLite (Qt's own
// Windows packages; QALU_TEST_TRACE_BY_QUERY), the handle is not ours to trace: the texts and
// values the query objects hand their route are recorded instead, expanded as SQLite would.

#include "core/failure.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

#ifdef QALU_TEST_TRACE_BY_QUERY
#include "db/query_backend.h"
#include "db/statement_text.h"
#endif

namespace qalu::testdb {

class SqliteTrace
{
public:
    explicit SqliteTrace(const QSqlDatabase &db)
    {
        const QVariant handle = db.driver()->handle();
        if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
            throw Failure(QStringLiteral("not a SQLite connection"));
#ifdef QALU_TEST_TRACE_BY_QUERY
        // The SQLite routes send a query object's text in SQLite's dialect.
        db::detail::setStatementListener([this](const QString &text, const QList<db::Parameter> &params) {
            const QString sent = db::sqliteDialect(text);
            statements << sent;
            expanded << expand(sent, params);
        });
#else
        m_db = *static_cast<sqlite3 *const *>(handle.constData());
        sqlite3_trace_v2(m_db, SQLITE_TRACE_STMT, &SqliteTrace::callback, this);
#endif
    }
    ~SqliteTrace()
    {
#ifdef QALU_TEST_TRACE_BY_QUERY
        db::detail::setStatementListener({});
#else
        sqlite3_trace_v2(m_db, 0, nullptr, nullptr);
#endif
    }
    SqliteTrace(const SqliteTrace &) = delete;
    SqliteTrace &operator=(const SqliteTrace &) = delete;

    QStringList statements;
    // The same statements with their bound values written in (texts quoted, doubles with a
    // fraction or exponent, integers plain).
    QStringList expanded;

private:
#ifdef QALU_TEST_TRACE_BY_QUERY
    // sqlite3_expanded_sql's forms: texts quoted, integers plain, doubles as "%!.15g".
    static QString expand(const QString &text, const QList<db::Parameter> &params)
    {
        QString out;
        qsizetype next = 0;
        for (const QChar c : text) {
            if (c != u'?' || next >= params.size()) {
                out += c;
                continue;
            }
            const QVariant &v = params[next++].value;
            if (v.typeId() == QMetaType::Double) {
                QString number = QString::number(v.toDouble(), 'g', 15);
                const qsizetype e = number.indexOf(u'e');
                if (!number.left(e < 0 ? number.size() : e).contains(u'.'))
                    number.insert(e < 0 ? number.size() : e, QStringLiteral(".0"));
                out += number;
            } else if (v.typeId() == QMetaType::QString) {
                out += u'\'' + v.toString().replace(u'\'', QStringLiteral("''")) + u'\'';
            } else {
                out += v.toString();
            }
        }
        return out;
    }
#endif
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
