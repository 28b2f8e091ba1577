#pragma once

#include <QString>

namespace qalu::app {

// The application title: the caption of every message box and of the default error report.
inline QString applicationTitle()
{
    return QStringLiteral("QALU- 0900000000");
}

} // namespace qalu::app
