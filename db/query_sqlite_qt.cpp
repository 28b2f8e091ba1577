// The SQLite route for builds whose Qt SQLite plugin carries its own copy of SQLite (Qt's Windows
// and macOS packages compile it in): driving that plugin's handle with this process's sqlite3
// functions would mix two libraries, so here every statement goes through the plugin's own
// result objects and this file calls no sqlite3 function at all.
//
// The texts reach SQLite as the other route sends them: the isnull( rewrite, the CR LF line ends,
// '?' placeholders bound by position. QSqlQuery::prepare would first run Qt's placeholder rewrite
// (QSQLITE reports named placeholders, so each '?' would reach SQLite as ":0", ":1", ...); the
// result's own prepare hands the text over untouched. Texts holding several statements are cut
// where SQLite would cut them and run in order, as the other route runs them.

#include "db/connection.h"
#include "db/query_backend.h"
#include "db/sql_failure.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>

#include <algorithm>
#include <vector>

namespace qalu::db::detail {

namespace {

// QSqlResult keeps prepare() protected; a member pointer named through a derived class reaches
// the driver's own implementation.
struct ResultAccess : QSqlResult
{
    using QSqlResult::prepare;
};

// QSQLITE's own default busy timeout, for the query objects that keep the driver's default.
constexpr int sqliteDefaultBusyMs = 5000;

struct Piece
{
    QString sql;
    int placeholders = 0;
};

bool isTrigger(QStringView statement)
{
    const QStringList words = statement.toString().simplified().left(40).split(u' ');
    int w = words.value(0).compare(QLatin1StringView("create"), Qt::CaseInsensitive) == 0 ? 1 : 99;
    if (w < words.size()
        && (words.at(w).compare(QLatin1StringView("temp"), Qt::CaseInsensitive) == 0
            || words.at(w).compare(QLatin1StringView("temporary"), Qt::CaseInsensitive) == 0))
        ++w;
    return w < words.size() && words.at(w).compare(QLatin1StringView("trigger"), Qt::CaseInsensitive) == 0;
}

bool endsWithEnd(QStringView before)
{
    const QStringView t = before.trimmed();
    return t.size() >= 3 && t.right(3).compare(QLatin1StringView("end"), Qt::CaseInsensitive) == 0
        && (t.size() == 3 || !(t.at(t.size() - 4).isLetterOrNumber() || t.at(t.size() - 4) == u'_'));
}

// The statements of a text as SQLite's prepare would take them one after another (each up to and
// including its ';'), with their '?' placeholders; a piece without any statement in it ends the
// list, as an empty statement ends the other route's loop.
std::vector<Piece> splitStatements(const QString &text)
{
    std::vector<Piece> pieces;
    const qsizetype n = text.size();
    qsizetype start = 0;
    Piece current;
    bool content = false;
    QChar close;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (!close.isNull()) {
            if (c == close)
                close = QChar();
            continue;
        }
        if (c == u'-' && i + 1 < n && text.at(i + 1) == u'-') {
            while (i < n && text.at(i) != u'\n')
                ++i;
            continue;
        }
        if (c == u'/' && i + 1 < n && text.at(i + 1) == u'*') {
            const qsizetype end = text.indexOf(QLatin1StringView("*/"), i + 2);
            i = end < 0 ? n : end + 1;
            continue;
        }
        if (c == u';') {
            const QStringView statement = QStringView(text).mid(start, i - start);
            if (content && isTrigger(statement) && !endsWithEnd(statement))
                continue;
            if (!content)
                return pieces;
            current.sql = text.mid(start, i + 1 - start);
            pieces.push_back(std::move(current));
            current = Piece();
            content = false;
            start = i + 1;
            continue;
        }
        if (c.unicode() > 32)
            content = true;
        if (c == u'\'' || c == u'"' || c == u'`')
            close = c;
        else if (c == u'[')
            close = u']';
        else if (c == u'?')
            ++current.placeholders;
    }
    if (content) {
        current.sql = text.mid(start);
        pieces.push_back(std::move(current));
    }
    return pieces;
}

// A query on the plugin's result, prepared with the text exactly as given.
std::unique_ptr<QSqlQuery> prepared(const QSqlDatabase &db, const QString &sql)
{
    QSqlResult *result = db.driver()->createResult();
    auto q = std::make_unique<QSqlQuery>(result);
    q->setForwardOnly(true);
    const auto prepare = &ResultAccess::prepare;
    if (!(result->*prepare)(sql))
        throw sqlFailure(q->lastError());
    return q;
}

// Binds, executes and reads one statement. Returns the affected-row count (0 for a statement
// with result columns); rows only from a statement with result columns.
int execute(QSqlQuery &q, const QList<Parameter> &params, qsizetype first, int count, QList<Row> *rows)
{
    for (int i = 0; i < count; ++i) {
        const Parameter &p = params.at(first + i);
        if (!p.value.isValid())
            throw noValue(p);
        q.bindValue(i, p.value);
    }
    if (!q.exec())
        throw sqlFailure(q.lastError());
    const bool select = q.isSelect();
    const int affected = select ? 0 : q.numRowsAffected();
    if (rows && select) {
        const int columns = q.record().count();
        while (q.next()) {
            Row row;
            row.reserve(columns);
            for (int c = 0; c < columns; ++c) {
                const QVariant v = q.value(c);
                // Qt does not say which columns are declared as guids, so a value that is a guid
                // (text in any of its forms, or 16 raw bytes) is given in the braced form.
                row << (v.isNull() ? QVariant() : guidText(v));
            }
            rows->append(std::move(row));
        }
        if (q.lastError().isValid())
            throw sqlFailure(q.lastError());
    }
    // Resets the statement, so it holds no lock while it waits for its next execution.
    q.finish();
    return affected;
}

class SqliteQtBackend final : public QueryBackend
{
public:
    SqliteQtBackend(const QSqlDatabase &db, int commandTimeoutSeconds)
        : m_db(db)
        , m_busyMs(commandTimeoutSeconds > 0 ? commandTimeoutSeconds * 1000 : sqliteDefaultBusyMs)
    {
    }

    int run(const QString &commandText, const QList<Parameter> &params, QList<Row> *rows) override
    {
        if (!m_dialectValid || commandText != m_source) {
            m_source = commandText;
            m_statement.reset();
            const std::vector<Piece> pieces = splitStatements(sqliteDialect(commandText));
            m_pieces = pieces;
            m_dialectValid = true;
        }
        applyBusyTimeout();
        // One statement, the usual case: kept prepared while the text stays.
        if (m_pieces.size() == 1) {
            if (m_pieces.front().placeholders != params.size())
                throw placeholderMismatch(m_pieces.front().placeholders, params.size());
            if (!m_statement)
                m_statement = prepared(m_db, m_pieces.front().sql);
            try {
                return execute(*m_statement, params, 0, int(params.size()), rows);
            } catch (...) {
                // SQLite reports a failed step again on the next reset; start afresh instead.
                m_statement.reset();
                throw;
            }
        }
        qsizetype next = 0;
        int affected = 0;
        bool haveRows = false;
        for (std::size_t i = 0; i < m_pieces.size(); ++i) {
            const Piece &piece = m_pieces.at(i);
            const bool last = i + 1 == m_pieces.size();
            if (next + piece.placeholders > params.size()
                || (last && next + piece.placeholders != params.size()))
                throw placeholderMismatch(next + piece.placeholders, params.size());
            const std::unique_ptr<QSqlQuery> q = prepared(m_db, piece.sql);
            QList<Row> *target = rows && !haveRows ? rows : nullptr;
            affected = execute(*q, params, next, piece.placeholders, target);
            haveRows = haveRows || (target && q->isSelect());
            next += piece.placeholders;
        }
        if (next != params.size())
            throw placeholderMismatch(next, params.size());
        return affected;
    }

private:
    QSqlDatabase m_db;
    int m_busyMs;
    QString m_source;
    std::vector<Piece> m_pieces;
    bool m_dialectValid = false;
    std::unique_ptr<QSqlQuery> m_statement;

    // The busy timeout belongs to the SQLite connection, shared by every query object on it; it
    // is changed (by a pragma, the only way through Qt) only when this object's differs from the
    // one the connection has. The driver object remembers it for its current handle.
    void applyBusyTimeout()
    {
        QSqlDriver *driver = m_db.driver();
        const QVariant h = driver->handle();
        const quintptr handle = h.isValid() ? *static_cast<const quintptr *>(h.constData()) : 0;
        const bool known = driver->property("qalu_busy_handle").value<quintptr>() == handle;
        const int current = known ? driver->property("qalu_busy_ms").toInt() : sqliteDefaultBusyMs;
        if (current == m_busyMs)
            return;
        QSqlQuery pragma(m_db);
        if (!pragma.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(m_busyMs)))
            throw sqlFailure(pragma.lastError());
        driver->setProperty("qalu_busy_handle", QVariant::fromValue(handle));
        driver->setProperty("qalu_busy_ms", m_busyMs);
    }
};

} // namespace

std::unique_ptr<QueryBackend> makeSqliteBackend(const QSqlDatabase &db, int commandTimeoutSeconds)
{
    return std::make_unique<SqliteQtBackend>(db, commandTimeoutSeconds);
}

} // namespace qalu::db::detail
