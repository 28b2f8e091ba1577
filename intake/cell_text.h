#pragma once

#include <QChar>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <string>
#include <string_view>

namespace qalu {

// How the workbook's cell values become grid texts. The number forms are written byte by byte
// with the separator already in the grid's encoding, since the reader calls them per cell.

// The general number format: rounded to 15 significant digits, plain notation for magnitudes from
// 0.0001 to below 10^15, scientific ("1E-5", "1.5E17") otherwise, no grouping, no trailing zeros.
// A non-finite value gives an empty result.
void appendGeneralNumber(std::string &out, double value, std::string_view separator);
QString generalNumberText(double value, QChar separator);

// A currency value: rounded to four fraction digits, trailing zeros dropped, no grouping, no
// currency sign, a leading minus when negative. False when the value lies outside the currency
// range (about +-9.2E14), which the caller writes as a general number instead.
bool appendCurrency(std::string &out, double value, std::string_view separator);
QString currencyText(double value, QChar separator);

// A spreadsheet date serial (days, fraction = time of day) in the 1900 or 1904 date system as the
// moment it names. Invalid when the serial lies before the system's first day or after 9999.
struct SerialDateTime
{
    QDate date; // null when the serial has no date part (1900 system, serial below 1)
    QTime time;
    bool valid = false;
};
SerialDateTime serialToDateTime(double serial, bool date1904);

// The locale's short date, then a blank and its time form unless the time is midnight; the time
// alone when there is no date part.
QString dateTimeText(const SerialDateTime &moment, const QLocale &locale);

} // namespace qalu
