#pragma once

#include <QChar>
#include <QString>

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

// Whether c may separate a price's whole part from its fraction: not a digit (of any script), a
// sign, e/E, a blank or a control character, each of which the number parser would read as part
// of the number or as its end, so that a list price of 10.5 could be stored as 1155.
bool isUsableDecimalSeparator(QChar c);
// Why `text` cannot be the decimal separator (one usable character); empty when it can.
QString decimalSeparatorProblem(const QString &text);

} // namespace qalu
