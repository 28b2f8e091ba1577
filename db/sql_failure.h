#pragma once

#include "core/failure.h"

#include <QString>

class QSqlError;

namespace qalu::db {

// The text a failure carries for a driver's error description: trailing characters of code 32 or
// below and trailing full stops removed.
QString trimErrorText(const QString &description);

// The failure for a Qt SQL error: its database text (the driver's text when there is none),
// trimmed as above, or "Database error <code>" when that leaves nothing. Carries the native code.
Failure sqlFailure(const QSqlError &error);
// The same from a description and a native error code.
Failure sqlFailure(const QString &description, const QString &nativeCode);

} // namespace qalu::db
