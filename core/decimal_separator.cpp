#include "core/decimal_separator.h"

#include "core/logging.h"

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

QChar usableDecimalSeparator(QChar separator)
{
    if (!isUsableDecimalSeparator(separator))
        return QLatin1Char('.');
    // Price texts travel through the grid in the ANSI code page: a separator it cannot hold
    // (U+066B under code page 1256) would turn every price into a failure.
    const QString text(separator);
    return QString::fromLocal8Bit(text.toLocal8Bit()) == text ? separator : QLatin1Char('.');
}

QChar systemDecimalSeparator()
{
    const QString point = QLocale::system().decimalPoint();
    if (point.size() != 1)
        return QLatin1Char('.');
    const QChar usable = usableDecimalSeparator(point.at(0));
    if (usable != point.at(0))
        qCWarning(lcUpdate, "the locale's decimal separator U+%04X cannot be used; '.' is used instead",
            unsigned(point.at(0).unicode()));
    return usable;
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
