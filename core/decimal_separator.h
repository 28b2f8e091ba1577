#pragma once

#include <QChar>

namespace qalu {

// The one decimal separator in force for the whole program: the workbook reader writes number
// cells with it and the update run parses prices with it. It is the locale's when that is exactly
// one character, else '.'. The window reads it at start and again on a locale change.
QChar decimalSeparator();
void setDecimalSeparator(QChar separator);

// The separator the system locale names, by the one-character rule above, and mended by
// usableDecimalSeparator() (with one warning when it is).
QChar systemDecimalSeparator();
// SEPARATOR, or '.' when it is a digit, a sign, 'e'/'E', a blank or a control character, or a
// character the locale's 8-bit code page cannot hold.
QChar usableDecimalSeparator(QChar separator);
// setDecimalSeparator(systemDecimalSeparator())
void refreshDecimalSeparator();

} // namespace qalu
