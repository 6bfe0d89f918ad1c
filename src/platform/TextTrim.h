#pragma once

#include <QString>

// Container fields pad with spaces and tabs only; other white space is part of the text.
inline QString trimmedOfSpacesAndTabs(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    auto blank = [&](qsizetype i) { return text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t'); };
    while (begin < end && blank(begin))
        ++begin;
    while (end > begin && blank(end - 1))
        --end;
    return text.sliced(begin, end - begin);
}
