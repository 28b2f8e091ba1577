#include "db/query.h"

#include "core/failure.h"
#include "db/connection.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QUuid>
#include <QtEndian>

#ifdef _WIN32
#include <windows.h> // the ODBC headers use its types there
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <cmath>
#include <limits>

namespace qalu::db {

namespace {

bool isQuote(QChar c)
{
    return c == u'\'' || c == u'"' || c == u'`';
}

bool endsName(QChar c)
{
    return c == u' ' || c == u',' || c == u';' || c == u')' || c == u'\r' || c == u'\n';
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$' || c == u'@' || c == u'#';
}

using Row = QList<QVariant>;

// A guid as the 38-character braced upper-case text, whatever form the driver hands over: text
// with or without braces, or 16 raw bytes in Windows layout (first three groups little-endian).
QVariant guidText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QByteArray) {
        const QByteArray b = value.toByteArray();
        if (b.size() != 16)
            return value;
        const auto *u = reinterpret_cast<const uchar *>(b.constData());
        const QUuid id(qFromLittleEndian<quint32>(u), qFromLittleEndian<quint16>(u + 4),
            qFromLittleEndian<quint16>(u + 6), u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
        return id.toString(QUuid::WithBraces).toUpper();
    }
    if (value.typeId() == QMetaType::QString) {
        const QUuid id(value.toString().trimmed());
        if (!id.isNull() || value.toString().contains(QLatin1StringView("00000000-0000")))
            return id.toString(QUuid::WithBraces).toUpper();
    }
    return value;
}

bool isGuidDeclaredType(const char *declared)
{
    if (!declared)
        return false;
    const QByteArray d = QByteArray(declared).toUpper();
    return d.contains("UNIQUEIDENTIFIER") || d.contains("GUID") || d == "UUID";
}

const QString &textOf(const QVariant &v)
{
    return *static_cast<const QString *>(v.constData());
}

Failure noValue(const Parameter &p)
{
    return Failure(QStringLiteral("The parameter %1 (position %2) has no value").arg(p.name).arg(p.position));
}

Failure placeholderMismatch(qsizetype placeholders, qsizetype parameters)
{
    return Failure(QStringLiteral("The statement has %1 placeholders but %2 parameters")
                       .arg(placeholders)
                       .arg(parameters));
}

// --- SQLite: statements go to the sqlite3 handle of the QSQLITE connection itself. QSQLITE
// reports named placeholders, so QSqlQuery::prepare runs Qt's placeholder scans over the text and
// may hand SQLite a rewritten one (Qt 6.4 was seen turning '?' into ":0"); it also costs about
// half again the time of the statement on an in-memory database. Debian's QSQLITE plugin links the system
// libsqlite3, as this library does, so both use the one SQLite in the process.

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

// --- ODBC: through QSqlQuery with positional binding. QODBC reports no named placeholders, so
// prepare() runs Qt's named-to-positional scan over the text: a colon outside '...' followed by
// a letter, digit or underscore (and not preceded by a colon) becomes '?' and a named slot, which
// boundValues() then counts before anything is bound. Our marker parse leaves such a colon only
// from "::" or inside grave accents; then the text would not reach the driver as written, so a
// statement without parameters runs unprepared (exec(text) passes it on untouched) and one with
// parameters is refused with a clear failure.

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

} // namespace

ParsedText parseMarkers(const QString &text)
{
    ParsedText out;
    out.commandText.reserve(text.size());
    const qsizetype n = text.size();
    bool quoted = false;
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (c == u':' && !quoted) {
            if (i + 1 < n && text.at(i + 1) == u':') {
                out.commandText += u':';
                i += 2;
                continue;
            }
            qsizetype end = i + 1;
            while (end < n && (quoted || !endsName(text.at(end)))) {
                if (isQuote(text.at(end)))
                    quoted = !quoted;
                ++end;
            }
            QString name = text.mid(i + 1, end - i - 1);
            if (!name.isEmpty() && isQuote(name.front())) {
                name.remove(0, 1);
                if (!name.isEmpty() && isQuote(name.back()))
                    name.chop(1);
            }
            out.names << name;
            out.commandText += u'?';
            i = end;
            continue;
        }
        if (isQuote(c))
            quoted = !quoted;
        out.commandText += c;
        ++i;
    }
    return out;
}

QString sqliteDialect(const QString &commandText)
{
    static constexpr QLatin1StringView word("isnull");
    QString out;
    qsizetype copied = 0;
    QChar quote;
    const qsizetype n = commandText.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = commandText.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (isQuote(c)) {
            quote = c;
            continue;
        }
        if ((c != u'i' && c != u'I') || (i > 0 && isWordChar(commandText.at(i - 1)))
            || QStringView(commandText).mid(i, word.size()).compare(word, Qt::CaseInsensitive) != 0)
            continue;
        qsizetype j = i + word.size();
        while (j < n && commandText.at(j).isSpace())
            ++j;
        if (j < n && commandText.at(j) == u'(') {
            out += QStringView(commandText).mid(copied, i - copied);
            out += commandText.at(i).isUpper() ? QLatin1StringView("IFNULL") : QLatin1StringView("ifnull");
            copied = i + word.size();
        }
        i += word.size() - 1;
    }
    if (copied == 0)
        return commandText;
    out += QStringView(commandText).mid(copied);
    return out;
}

class TQuery::Impl
{
public:
    QList<Row> rows;
    bool open = false;
    int affected = -1;
    QString dialectText;
    bool dialectValid = false;

    // The SQLite form of the command text, rewritten once per text.
    const QString &sqliteText(const QString &commandText)
    {
        if (!dialectValid) {
            dialectText = sqliteDialect(commandText);
            dialectValid = true;
        }
        return dialectText;
    }
};

TQuery::TQuery(TConnection &connection, const QString &name, int commandTimeoutSeconds)
    : m_connection(connection)
    , m_name(name)
    , m_timeout(commandTimeoutSeconds)
    , m_impl(std::make_unique<Impl>())
{
}

TQuery::~TQuery() = default;

void TQuery::clearText()
{
    m_impl->open = false;
    m_impl->rows.clear();
    m_lines.clear();
    rebuild();
}

void TQuery::setText(const QString &line)
{
    m_impl->open = false;
    m_impl->rows.clear();
    m_lines = QStringList { line };
    rebuild();
}

void TQuery::appendLine(const QString &line)
{
    m_impl->open = false;
    m_impl->rows.clear();
    m_lines << line;
    rebuild();
}

QString TQuery::text() const
{
    QString t;
    for (const QString &line : m_lines)
        t += line + QLatin1StringView("\r\n");
    return t;
}

QString TQuery::commandText() const
{
    return m_commandText;
}

// The parameter list always follows the text: a text without markers leaves no parameters behind.
void TQuery::rebuild()
{
    m_impl->dialectValid = false;
    m_params.clear();
    if (m_lines.isEmpty()) {
        m_commandText.clear();
        return;
    }
    const ParsedText parsed = parseMarkers(text());
    m_commandText = parsed.commandText;
    m_params.reserve(parsed.names.size());
    for (qsizetype i = 0; i < parsed.names.size(); ++i) {
        Parameter p;
        p.name = parsed.names.at(i);
        p.position = int(i);
        m_params << p;
    }
}

Parameter &TQuery::parameterAt(int position)
{
    if (position < 0 || position >= m_params.size())
        throw Failure(QStringLiteral("Parameter position %1 is outside the %2 parameters of %3")
                          .arg(position)
                          .arg(m_params.size())
                          .arg(m_name));
    return m_params[position];
}

void TQuery::bind(int position, QVariant value, ValueKind kind)
{
    Parameter &p = parameterAt(position);
    if (p.dataType == adEmpty) {
        switch (kind) {
        case ValueKind::Double:
            p.dataType = adDouble;
            break;
        case ValueKind::Integer:
            p.dataType = adInteger;
            break;
        case ValueKind::Byte:
            p.dataType = adSmallInt;
            break;
        case ValueKind::Text:
            p.dataType = adVarChar;
            break;
        }
    }
    // Character and binary types grow to the longest value bound; other types have no size.
    const bool sized = (p.dataType >= 128 && p.dataType <= 130) || (p.dataType >= 200 && p.dataType <= 205);
    if (sized) {
        const int length
            = kind == ValueKind::Text ? (textOf(value).isEmpty() ? -1 : int(textOf(value).size())) : 16;
        if (p.size == 0 || p.size < length)
            p.size = length;
    }
    p.value = std::move(value);
}

void TQuery::setDouble(int position, double value)
{
    bind(position, QVariant(value), ValueKind::Double);
}

void TQuery::setInteger(int position, qint32 value)
{
    bind(position, QVariant(int(value)), ValueKind::Integer);
}

void TQuery::setByte(int position, quint8 value)
{
    bind(position, QVariant(int(value)), ValueKind::Byte);
}

void TQuery::setString(int position, const QString &value)
{
    bind(position, QVariant(value.isNull() ? QStringLiteral("") : value), ValueKind::Text);
}

void TQuery::ensureOpen()
{
    if (!m_connection.Connected())
        m_connection.Open();
}

int TQuery::run(bool fetchRows)
{
    m_impl->open = false;
    m_impl->rows.clear();
    ensureOpen();
    QSqlDatabase db = m_connection.database();
    QList<Row> *rows = fetchRows ? &m_impl->rows : nullptr;
    try {
        if (m_connection.isSqlite())
            return runSqlite(sqliteHandle(db), m_impl->sqliteText(m_commandText), m_params,
                m_timeout > 0 ? m_timeout * 1000 : sqliteDefaultBusyMs, rows);
        return runOdbc(db, m_commandText, m_params, m_timeout, rows);
    } catch (...) {
        m_impl->rows.clear();
        throw;
    }
}

void TQuery::Open()
{
    run(true);
    m_impl->open = true;
}

bool TQuery::isOpen() const
{
    return m_impl->open;
}

int TQuery::RecordCount() const
{
    if (!m_impl->open)
        throw Failure(QStringLiteral("%1 has no open result").arg(m_name));
    return int(m_impl->rows.size());
}

qint32 TQuery::firstFieldAsInteger() const
{
    if (!m_impl->open)
        throw Failure(QStringLiteral("%1 has no open result").arg(m_name));
    if (m_impl->rows.isEmpty() || m_impl->rows.front().isEmpty())
        return 0;
    const QVariant &v = m_impl->rows.front().front();
    if (!v.isValid() || v.isNull())
        return 0;
    bool ok = false;
    qint64 n = 0;
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
        const double d = v.toDouble();
        ok = std::isfinite(d) && std::fabs(d) < 9.2e18;
        n = ok ? qRound64(d) : 0;
    } else if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        n = s.toLongLong(&ok);
        if (!ok) {
            const double d = s.toDouble(&ok);
            ok = ok && std::isfinite(d) && std::fabs(d) < 9.2e18;
            n = ok ? qRound64(d) : 0;
        }
    } else {
        n = v.toLongLong(&ok);
    }
    if (!ok)
        throw Failure(QStringLiteral("The value \"%1\" is not a number").arg(v.toString()));
    if (n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
        throw Failure(QStringLiteral("The value %1 does not fit a 32-bit integer").arg(n));
    return qint32(n);
}

QString TQuery::firstFieldAsText() const
{
    if (!m_impl->open)
        throw Failure(QStringLiteral("%1 has no open result").arg(m_name));
    if (m_impl->rows.isEmpty() || m_impl->rows.front().isEmpty())
        return QStringLiteral("");
    const QVariant &v = m_impl->rows.front().front();
    if (!v.isValid() || v.isNull())
        return QStringLiteral("");
    QString s = v.toString();
    return s.isNull() ? QStringLiteral("") : s;
}

QVariant TQuery::fieldValue(int column) const
{
    if (!m_impl->open)
        throw Failure(QStringLiteral("%1 has no open result").arg(m_name));
    if (m_impl->rows.isEmpty())
        return QVariant();
    return m_impl->rows.front().value(column);
}

int TQuery::ExecSQL()
{
    m_impl->affected = run(false);
    return m_impl->affected;
}

int TQuery::RowsAffected() const
{
    return m_impl->affected;
}

} // namespace qalu::db
