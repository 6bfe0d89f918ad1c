#pragma once

#include "roadcore/CatalogEntry.h"
#include "roadcore/CatalogJson.h"
#include "roadcore/PrefixBytes.h"
#include "roadcore/SlimOptional.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <atomic>
#include <initializer_list>
#include <optional>
#include <utility>

// Reads the catalog straight from its text into entries, without a document tree in between: a large
// catalog is read in a fraction of the time and memory. Expects text that is valid UTF-8.
class CatalogReader {
public:
    explicit CatalogReader(QByteArrayView text) : m_at(text.data()), m_end(text.data() + text.size()) {}
    ~CatalogReader() { finishBlock(); }
    CatalogReader(const CatalogReader &) = delete;
    CatalogReader &operator=(const CatalogReader &) = delete;

    bool atEnd()
    {
        skipSpace();
        return m_at == m_end;
    }

    // The place after any space.
    const char *position()
    {
        skipSpace();
        return m_at;
    }

    bool take(char c)
    {
        skipSpace();
        if (m_at == m_end || *m_at != c)
            return false;
        ++m_at;
        return true;
    }

    // "[" items "]", each read by `item`.
    template <class Item> bool readArray(Item item)
    {
        if (!take('['))
            return false;
        if (take(']'))
            return true;
        do {
            if (!item())
                return false;
        } while (take(','));
        return take(']');
    }

    bool readEntry(CatalogEntry &entry);
    // An object whose members named in `fields` are each a string, required; other members are passed over.
    bool readStringObject(std::initializer_list<std::pair<const char *, QString *>> fields);

    // Whether the last read that failed stopped at the end of the text, or so near it that a longer text
    // might have read: a text read in pieces then needs the next one.
    bool failedAtEnd() const { return m_end - m_at < 8; }

private:
    bool readFile(CatalogEntry::File &file);
    // A bookmark, kept in a block with those before it when it begins as they do, or else with the next
    // ones when it has a long enough beginning in common with the one before: the bookmarks of one volume's
    // files begin alike.
    bool readBookmark(QByteArrayView text, PrefixBytes &out);
    // No more is added to the block: the room kept for more goes back.
    void finishBlock();

    // "{" members "}": `member` is called with each member's name (decoded) and reads its value.
    template <class Member> bool readObject(Member member)
    {
        if (!take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            skipSpace();
            if (!readText(m_name, m_nameBuffer) || !take(':'))
                return false;
            // `member` looks at the name before it reads the value, which may read names of its own.
            if (!member(m_name))
                return false;
        } while (take(','));
        return take('}');
    }

    void skipSpace()
    {
        while (m_at != m_end && (*m_at == ' ' || *m_at == '\n' || *m_at == '\r' || *m_at == '\t'))
            ++m_at;
    }

    bool takeWord(const char *word);
    bool readHex4(char32_t &unit);
    // A string at the current place, decoded to UTF-8: `text` views the catalog's own bytes when the string
    // has no escape, else `buffer`, which holds it decoded. A lone surrogate is no text.
    bool readText(QByteArrayView &text, QByteArray &buffer);
    // The rest of a string from the current place, after its opening quote, decoded into `out`.
    bool decodeText(QByteArray &out);
    bool requiredString(QString &out);
    // A string or null into m_value; m_isNull tells which.
    bool optionalBytes();
    bool optionalString(SlimOptional<QString> &out);

    template <class Optional> bool optionalDate(Optional &out)
    {
        if (!optionalBytes())
            return false;
        out.reset();
        if (m_isNull)
            return true;
        out = CatalogJson::parseDate(m_value);
        return out.has_value();
    }

    // The extent of a JSON number at the current place; empty when there is none.
    QByteArrayView numberText();
    // A number without a fraction that fits 64 bits, written plainly or not ("1e3", "2.0").
    bool wholeNumber(qint64 &out);
    // Any JSON value, checked and passed over.
    bool skipValue(int depth);

    const char *m_at;
    const char *m_end;
    QByteArrayView m_name;                  // the member name just read
    QByteArrayView m_value;                 // the string value just read
    QByteArray m_nameBuffer, m_valueBuffer; // of those with escapes
    QByteArray m_bytes, m_previousBytes;    // the bookmark being read and the one before
    PrefixBytes::SharedBlock m_block;       // of the bookmarks read lately
    bool m_isNull = false;
};
