#pragma once

#include <QString>

#include <exception>

namespace qalu {

// The text of a caught failure: qalu::Failure's own text, a standard exception's what(), or a
// fixed text for anything else.
QString failureText(std::exception_ptr failure);

// The text the default error report shows: the failure's text, with "." appended when the text
// is not empty and its last character's code is above that of ".".
QString errorReportText(const QString &failureText);

} // namespace qalu
