#include "intake/number_format.h"

namespace qalu::xlsx {

// Built-in formats. Dates and times: 14-22 and 45-47, and 27-36 and 50-58, the East Asian
// locales' date forms. Currency: 5-8 (currency with symbol) and 42 and 44 (accounting with
// symbol); 37-41 and 43 group digits without a currency symbol and stay plain numbers.
NumberKind builtinKind(int id)
{
    if ((id >= 14 && id <= 22) || (id >= 45 && id <= 47) || (id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return NumberKind::Date;
    if ((id >= 5 && id <= 8) || id == 42 || id == 44)
        return NumberKind::Currency;
    return NumberKind::General;
}

// A custom format is a date or time format when it has a d, m, y, h or s token outside quoted
// text, escapes, fills, paddings and brackets (an elapsed-time bracket like [h] counts too).
// Otherwise it is a currency format when it shows a currency sign: a bracketed currency such as
// [$EUR-407] (not a bare locale tag [$-409]) or one of $ € £ ¥ anywhere, quoted or not.
NumberKind customKind(const QString &code)
{
    bool currency = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        switch (c.unicode()) {
        case '"': {
            const qsizetype close = code.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype end = close < 0 ? code.size() : close;
            for (qsizetype j = i + 1; j < end; ++j)
                if (QStringView(u"$\u20ac\u00a3\u00a5").contains(code.at(j)))
                    currency = true;
            i = end;
            break;
        }
        case '\\':
            if (i + 1 < code.size() && QStringView(u"$\u20ac\u00a3\u00a5").contains(code.at(i + 1)))
                currency = true;
            ++i;
            break;
        case '_':
        case '*':
            ++i;
            break;
        case '[': {
            const qsizetype close = code.indexOf(QLatin1Char(']'), i + 1);
            const qsizetype end = close < 0 ? code.size() : close;
            const QString inner = code.mid(i + 1, end - i - 1);
            if (inner.startsWith(QLatin1Char('$'))) {
                const qsizetype dash = inner.indexOf(QLatin1Char('-'));
                if ((dash < 0 ? inner.size() : dash) > 1)
                    currency = true;
            } else if (!inner.isEmpty()) {
                bool elapsed = true;
                for (const QChar t : inner)
                    elapsed = elapsed && QStringView(u"hHmMsS").contains(t);
                if (elapsed)
                    return NumberKind::Date;
            }
            i = end;
            break;
        }
        default:
            if (QStringView(u"dDmMyYhHsS").contains(c))
                return NumberKind::Date;
            if (QStringView(u"$\u20ac\u00a3\u00a5").contains(c))
                currency = true;
        }
    }
    return currency ? NumberKind::Currency : NumberKind::General;
}

} // namespace qalu::xlsx
