#include "intake/cell_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace qalu {

namespace {

std::string separatorBytes(QChar separator)
{
    return QString(separator).toLocal8Bit().toStdString();
}

} // namespace

void appendGeneralNumber(std::string &out, double value, std::string_view separator)
{
    if (!std::isfinite(value))
        return;
    if (value == 0) {
        out += '0';
        return;
    }
    // Scientific with 14 fraction digits rounds correctly to 15 significant digits and gives the
    // rounded value's exponent, which decides the notation.
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::scientific, 14);
    if (res.ec != std::errc())
        return;
    *res.ptr = 0;
    const char *p = buf;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    char digits[16];
    int count = 0;
    digits[count++] = *p++;
    if (*p == '.')
        ++p;
    while (*p >= '0' && *p <= '9' && count < 15)
        digits[count++] = *p++;
    while (*p && *p != 'e')
        ++p;
    int exponent = 0;
    if (*p == 'e')
        exponent = std::atoi(p + 1);
    while (count > 1 && digits[count - 1] == '0')
        --count;

    if (negative)
        out += '-';
    if (exponent >= -4 && exponent < 15) {
        if (exponent < 0) {
            out += '0';
            out += separator;
            out.append(size_t(-exponent - 1), '0');
            out.append(digits, size_t(count));
        } else {
            const int intDigits = exponent + 1;
            for (int i = 0; i < intDigits; ++i)
                out += i < count ? digits[i] : '0';
            if (count > intDigits) {
                out += separator;
                out.append(digits + intDigits, size_t(count - intDigits));
            }
        }
        return;
    }
    out += digits[0];
    if (count > 1) {
        out += separator;
        out.append(digits + 1, size_t(count - 1));
    }
    out += 'E';
    if (exponent < 0)
        out += '-';
    out += std::to_string(std::abs(exponent));
}

QString generalNumberText(double value, QChar separator)
{
    std::string out;
    appendGeneralNumber(out, value, separatorBytes(separator));
    return QString::fromLocal8Bit(out.data(), qsizetype(out.size()));
}

bool appendCurrency(std::string &out, double value, std::string_view separator)
{
    // The platform's currency type is a 64-bit count of ten-thousandths.
    if (!std::isfinite(value) || std::fabs(value) >= 922337203685477.0)
        return false;
    char buf[48];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 4);
    if (res.ec != std::errc())
        return false;
    std::string_view text(buf, size_t(res.ptr - buf));
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    const auto point = text.find('.');
    std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    // A value that rounds to zero has no sign.
    if (negative && !(whole == "0" && fraction.empty()))
        out += '-';
    out += whole;
    if (!fraction.empty()) {
        out += separator;
        out += fraction;
    }
    return true;
}

QString currencyText(double value, QChar separator)
{
    std::string out;
    if (!appendCurrency(out, value, separatorBytes(separator)))
        appendGeneralNumber(out, value, separatorBytes(separator));
    return QString::fromLocal8Bit(out.data(), qsizetype(out.size()));
}

SerialDateTime serialToDateTime(double serial, bool date1904)
{
    SerialDateTime result;
    // Up to 9999-12-31 23:59:59 in either system; nothing before the system's first day.
    const double last = date1904 ? 2957003.0 : 2958466.0;
    if (!std::isfinite(serial) || serial < 0 || serial >= last)
        return result;
    // Whole seconds, as the platform's date-to-text conversion rounds them.
    auto seconds = static_cast<long long>(std::llround(serial * 86400.0));
    long long days = seconds / 86400;
    const int secondOfDay = int(seconds % 86400);
    result.time = QTime(0, 0).addSecs(secondOfDay);
    if (date1904) {
        result.date = QDate(1904, 1, 1).addDays(days);
    } else if (days == 0) {
        // Serial 0 is the time of day alone.
    } else if (days < 60) {
        result.date = QDate(1899, 12, 31).addDays(days);
    } else if (days == 60) {
        // The 1900 system counts a 29 February 1900 that never was; it shows as the 28th.
        result.date = QDate(1900, 2, 28);
    } else {
        result.date = QDate(1899, 12, 30).addDays(days);
    }
    result.valid = true;
    return result;
}

namespace {

// The locale's long time form without its time-zone part, which a spreadsheet time has not.
QString timeFormat(const QLocale &locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.trimmed();
}

} // namespace

QString dateTimeText(const SerialDateTime &moment, const QLocale &locale)
{
    if (!moment.valid)
        return QString();
    const QString time = locale.toString(moment.time, timeFormat(locale));
    if (moment.date.isNull())
        return time;
    const QString date = locale.toString(moment.date, QLocale::ShortFormat);
    if (moment.time == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + time;
}

} // namespace qalu
