#include "roadloom/model/CaselessMatch.h"

namespace {

constexpr char16_t lowerAscii(char16_t c)
{
    return char16_t(c | (char16_t(c - u'A') < 26 ? 0x20 : 0));
}

} // namespace

CaselessMatch::CaselessMatch(QString needle) : m_needle(std::move(needle))
{
    m_folded.resize(m_needle.size());
    for (qsizetype i = 0; i < m_needle.size(); ++i) {
        const char16_t c = m_needle.at(i).unicode();
        m_ascii = m_ascii && c < 0x80;
        m_folded[i] = QChar(lowerAscii(c));
    }
}

bool CaselessMatch::in(QStringView text) const
{
    const qsizetype n = text.size(), m = m_folded.size();
    if (m == 0)
        return true;
    if (m > n)
        return false;
    const char16_t *s = text.utf16();
    // Characters beyond ASCII can fold onto ASCII letters (the Kelvin sign onto 'k'): such texts go to Qt.
    char16_t any = 0;
    for (qsizetype i = 0; i < n; ++i)
        any |= s[i];
    if (!m_ascii || any >= 0x80) {
        ++m_slowTexts;
        return text.contains(m_needle, Qt::CaseInsensitive);
    }
    const char16_t *needle = reinterpret_cast<const char16_t *>(m_folded.constData());
    const char16_t first = needle[0];
    for (qsizetype at = 0; at + m <= n; ++at) {
        if (lowerAscii(s[at]) != first)
            continue;
        qsizetype k = 1;
        while (k < m && lowerAscii(s[at + k]) == needle[k])
            ++k;
        if (k == m)
            return true;
    }
    return false;
}
