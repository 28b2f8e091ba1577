#pragma once

#include <QString>

namespace qalu {

// The trim rule: drop every leading and trailing character whose code is 32 or below. Never
// returns a null string, so an all-blank text binds as an empty text, not NULL.
inline QString trimRule(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    if (begin == end)
        return QStringLiteral("");
    return text.mid(begin, end - begin);
}

} // namespace qalu
