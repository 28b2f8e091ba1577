#include "core/decimal_separator.h"

#include <QLocale>
#include <QString>

#include <atomic>

namespace qalu {

namespace {
// 0 until first read or set, so nothing asks the locale during static initialisation.
std::atomic<char16_t> g_separator { 0 };
} // namespace

QChar decimalSeparator()
{
    char16_t c = g_separator.load();
    if (c == 0) {
        c = systemDecimalSeparator().unicode();
        g_separator.store(c);
    }
    return QChar(c);
}

void setDecimalSeparator(QChar separator)
{
    g_separator.store(separator.unicode());
}

QChar systemDecimalSeparator()
{
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 ? point.at(0) : QLatin1Char('.');
}

void refreshDecimalSeparator()
{
    setDecimalSeparator(systemDecimalSeparator());
}

} // namespace qalu
