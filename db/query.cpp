#include "db/query.h"

#include "core/failure.h"
#include "db/connection.h"
#include "db/query_backend.h"

#include <cmath>
#include <limits>

namespace qalu::db {

using detail::Row;
using detail::textOf;

class TQuery::Impl
{
public:
    QList<Row> rows;
    qsizetype current = 0;
    bool open = false;
    int affected = -1;
    // Made on the first run after the connection opened; dropped when it closes.
    std::unique_ptr<detail::QueryBackend> backend;
};

TQuery::TQuery(TConnection &connection, const QString &name, int commandTimeoutSeconds)
    : m_connection(connection)
    , m_name(name)
    , m_timeout(commandTimeoutSeconds)
    , m_impl(std::make_unique<Impl>())
{
    m_connection.attach(this);
}

TQuery::~TQuery()
{
    if (m_attached)
        m_connection.detach(this);
}

void TQuery::releaseStatements()
{
    m_impl->backend.reset();
}

void TQuery::connectionGone()
{
    m_impl->backend.reset();
    m_attached = false;
}

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
    if (!m_impl->backend)
        m_impl->backend = detail::makeBackend(m_connection, m_timeout);
    if (const auto &listener = detail::statementListener())
        listener(m_commandText, m_params);
    try {
        return m_impl->backend->run(m_commandText, m_params, fetchRows ? &m_impl->rows : nullptr);
    } catch (...) {
        m_impl->rows.clear();
        throw;
    }
}

void TQuery::Open()
{
    run(true);
    m_impl->current = 0;
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
    if (m_impl->current >= m_impl->rows.size())
        return QVariant();
    return m_impl->rows.at(m_impl->current).value(column);
}

void TQuery::Next()
{
    if (!m_impl->open)
        throw Failure(QStringLiteral("%1 has no open result").arg(m_name));
    if (m_impl->current < m_impl->rows.size())
        ++m_impl->current;
}

bool TQuery::Eof() const
{
    if (!m_impl->open)
        throw Failure(QStringLiteral("%1 has no open result").arg(m_name));
    return m_impl->current >= m_impl->rows.size();
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
