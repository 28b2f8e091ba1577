#include "db/statement_text.h"

namespace qalu::db {

namespace {

bool isQuote(QChar c)
{
    return c == u'\'' || c == u'"' || c == u'`';
}

bool endsName(QChar c)
{
    return c == u' ' || c == u',' || c == u';' || c == u')' || c == u'\r' || c == u'\n';
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$' || c == u'@' || c == u'#';
}

} // namespace

ParsedText parseMarkers(const QString &text)
{
    ParsedText out;
    out.commandText.reserve(text.size());
    const qsizetype n = text.size();
    bool quoted = false;
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (c == u':' && !quoted) {
            if (i + 1 < n && text.at(i + 1) == u':') {
                out.commandText += u':';
                i += 2;
                continue;
            }
            qsizetype end = i + 1;
            while (end < n && (quoted || !endsName(text.at(end)))) {
                if (isQuote(text.at(end)))
                    quoted = !quoted;
                ++end;
            }
            QString name = text.mid(i + 1, end - i - 1);
            if (!name.isEmpty() && isQuote(name.front())) {
                name.remove(0, 1);
                if (!name.isEmpty() && isQuote(name.back()))
                    name.chop(1);
            }
            out.names << name;
            out.commandText += u'?';
            i = end;
            continue;
        }
        if (isQuote(c))
            quoted = !quoted;
        out.commandText += c;
        ++i;
    }
    return out;
}

QString sqliteDialect(const QString &commandText)
{
    static constexpr QLatin1StringView word("isnull");
    QString out;
    qsizetype copied = 0;
    QChar quote;
    const qsizetype n = commandText.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = commandText.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (isQuote(c)) {
            quote = c;
            continue;
        }
        if ((c != u'i' && c != u'I') || (i > 0 && isWordChar(commandText.at(i - 1)))
            || QStringView(commandText).mid(i, word.size()).compare(word, Qt::CaseInsensitive) != 0)
            continue;
        qsizetype j = i + word.size();
        while (j < n && commandText.at(j).isSpace())
            ++j;
        if (j < n && commandText.at(j) == u'(') {
            out += QStringView(commandText).mid(copied, i - copied);
            out += commandText.at(i).isUpper() ? QLatin1StringView("IFNULL") : QLatin1StringView("ifnull");
            copied = i + word.size();
        }
        i += word.size() - 1;
    }
    if (copied == 0)
        return commandText;
    out += QStringView(commandText).mid(copied);
    return out;
}

} // namespace qalu::db
