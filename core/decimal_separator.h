#pragma once

#include <QChar>

namespace qalu {

// The one decimal separator in force for the whole program: the workbook reader writes number
// cells with it and the update run parses prices with it. It is the locale's when that is exactly
// one character, else '.'. The window reads it at start and again on a locale change.
QChar decimalSeparator();
void setDecimalSeparator(QChar separator);

// The separator the system locale names, by the one-character rule above.
QChar systemDecimalSeparator();
// setDecimalSeparator(systemDecimalSeparator())
void refreshDecimalSeparator();

} // namespace qalu
