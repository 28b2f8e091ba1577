#include "db/query_backend.h"

#include "db/connection.h"

#include <QUuid>
#include <QtEndian>

namespace qalu::db {

QString guidText(const QString &text)
{
    const QUuid id(text.trimmed());
    if (!id.isNull() || text.contains(QLatin1StringView("00000000-0000")))
        return id.toString(QUuid::WithBraces).toUpper();
    return text;
}

} // namespace qalu::db

namespace qalu::db::detail {

QueryBackend::~QueryBackend() = default;

namespace {
StatementListener g_listener;
} // namespace

void setStatementListener(StatementListener listener)
{
    g_listener = std::move(listener);
}

const StatementListener &statementListener()
{
    return g_listener;
}

std::unique_ptr<QueryBackend> makeBackend(const TConnection &connection, int commandTimeoutSeconds)
{
    const QSqlDatabase db = connection.database();
    return connection.isSqlite() ? makeSqliteBackend(db, commandTimeoutSeconds)
                                 : makeOdbcBackend(db, commandTimeoutSeconds);
}

// Text with or without braces, or 16 raw bytes in Windows layout (first three groups
// little-endian).
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
    if (value.typeId() == QMetaType::QString)
        return db::guidText(value.toString());
    return value;
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

} // namespace qalu::db::detail
