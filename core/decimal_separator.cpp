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

QString decimalSeparatorProblem(const QString &text)
{
    if (text.size() != 1)
        return QStringLiteral("the decimal separator must be exactly one character, not '%1'").arg(text);
    if (!isUsableDecimalSeparator(text.at(0)))
        return QStringLiteral("the decimal separator cannot be '%1': a digit, sign, e, E, blank or "
                              "control character would be read as part of the number")
            .arg(text);
    return {};
}

void refreshDecimalSeparator()
{
    setDecimalSeparator(systemDecimalSeparator());
}

bool isUsableDecimalSeparator(QChar c)
{
    if (c.isDigit() || c.isSpace() || c.isSurrogate())
        return false;
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Other_Format: // invisible: bidi marks, zero-width joiners
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_NotAssigned:
        return false;
    default:
        break;
    }
    return c != u'+' && c != u'-' && c != u'e' && c != u'E';
}

} // namespace qalu
