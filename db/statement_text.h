#pragma once

#include <QString>
#include <QStringList>

namespace qalu::db {

// Result of scanning a statement text for ":name" markers.
struct ParsedText
{
    QString commandText; // the text with each marker replaced by '?'
    QStringList names; // one name per marker, in order
};
ParsedText parseMarkers(const QString &text);

// The one dialect change made for SQLite: a call of isnull( outside quoted parts becomes ifnull(,
// because SQLite parses ISNULL as a postfix operator. Other drivers get the text unchanged.
QString sqliteDialect(const QString &commandText);

} // namespace qalu::db
