#pragma once

#include <QChar>
#include <QString>

namespace qalu::db {

// Turns a price text from the grid into a number, the way the workbook reader wrote it: blanks
// (code 32 only) around the number, an optional sign, digits with at most one `decimalSeparator`,
// an optional exponent "E"/"e" with optional sign. The whole text must be consumed. The value is
// rounded to 64 significant bits (x87 extended precision) and then to a double, both to nearest,
// ties to even; the same on every compiler, since it is computed on integers and not through
// long double. A value that rounds to 2^1024 or beyond fails. Returns false (leaving *value
// alone) when the text breaks the rule.
bool parsePriceText(const QString &text, QChar decimalSeparator, double *value);

// Which part of the rule `text` breaks, in a few words for a support person ("no digits",
// "character ',' at position 2 is not allowed there", "beyond the range of a double"); empty
// when the text passes.
QString priceTextProblem(const QString &text, QChar decimalSeparator);

// The same rule, throwing qalu::Failure for a text that breaks it.
double priceFromText(const QString &text, QChar decimalSeparator);

} // namespace qalu::db
