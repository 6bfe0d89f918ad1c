#pragma once

#include <QString>
#include <QStringView>

// Whether a text contains a search text, ignoring case exactly as `QString::contains` with
// `Qt::CaseInsensitive` does. A keystroke in the clip list's search tests every name of a long library:
// Qt folds each character through the Unicode tables (about 200 ns a name, 20 ms for 100,000 names), while
// names and searches are nearly always ASCII, where folding is one comparison. Texts that are not ASCII take
// Qt's own path, so the answer never differs from it.
class CaselessMatch {
public:
    explicit CaselessMatch(QString needle);

    bool in(QStringView text) const;
    // How many texts were handed to Qt's path since this matcher was made (for tests of the fast path).
    qsizetype slowTexts() const { return m_slowTexts; }

private:
    QString m_needle;
    QString m_folded; // ASCII letters in lower case; only used when `m_ascii`
    bool m_ascii = true;
    mutable qsizetype m_slowTexts = 0;
};
