#include "db/sql_failure.h"

#include <QSqlError>

namespace qalu::db {

QString trimErrorText(const QString &description)
{
    qsizetype end = description.size();
    while (end > 0 && (description.at(end - 1).unicode() <= 32 || description.at(end - 1) == u'.'))
        --end;
    return description.left(end);
}

Failure sqlFailure(const QString &description, const QString &nativeCode)
{
    bool ok = false;
    const qint64 code = nativeCode.toLongLong(&ok);
    const QString text = trimErrorText(description);
    if (!text.isEmpty())
        return Failure(text, ok ? code : 0);
    if (nativeCode.isEmpty())
        return Failure(QStringLiteral("Database error"), 0);
    return Failure(QStringLiteral("Database error %1").arg(nativeCode), ok ? code : 0);
}

Failure sqlFailure(const QSqlError &error)
{
    const QString db = error.databaseText();
    return sqlFailure(trimErrorText(db).isEmpty() ? error.driverText() : db, error.nativeErrorCode());
}

} // namespace qalu::db
