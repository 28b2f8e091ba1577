#pragma once

#include <QString>

namespace qalu::app {

// The default error report: the error icon, the application title as caption, one OK button,
// application-modal. Returns when the user has dismissed it.
void showErrorReport(const QString &failureText);

} // namespace qalu::app
