#pragma once

#include <QChar>
#include <QString>

namespace qalu::update {

// Turns a price text from the grid into a number, the way the workbook reader wrote it: blanks
// (code 32 only) around the number, an optional sign, digits with at most one `decimalSeparator`,
// an optional exponent "E"/"e" with optional sign. The whole text must be consumed. The value is
// rounded to 64 significant bits (x87 extended precision) and then to a double, both to nearest,
// ties to even; the same on every compiler, since it is computed on integers and not through
// long double. A value that rounds to 2^1024 or beyond fails.
struct PriceText
{
    double value = 0;
    // Which part of the rule the text breaks, in a few words for a support person ("no digits",
    // "character ',' at position 2 is not allowed there", "beyond the range of a double");
    // empty when the text passes.
    QString problem;

    bool ok() const { return problem.isEmpty(); }
};
PriceText parsePrice(const QString &text, QChar decimalSeparator);

} // namespace qalu::update
