#include "roadcore/CatalogReader.h"

#include "platform/TextCodes.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// The first byte at or after `at` that ends a string's plain run: a quote, a backslash or a control
// character. Eight bytes are looked at together: the paths and bookmarks make the strings most of the
// catalog, and a byte at a time this scan would be the largest part of the whole read.
const char *plainRunEnd(const char *at, const char *end)
{
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    while (end - at >= 8) {
        std::uint64_t word;
        std::memcpy(&word, at, 8);
        const std::uint64_t quote = word ^ (ones * '"'), backslash = word ^ (ones * '\\');
        // A byte's high bit is set where it is zero, or below 0x20; the bytes above such a byte may be
        // marked too, so the word is then looked at a byte at a time.
        const std::uint64_t marked =
            ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash) | ((word - ones * 0x20) & ~word);
        if (marked & highs)
            break;
        at += 8;
    }
    while (at != end && *at != '"' && *at != '\\' && static_cast<unsigned char>(*at) >= 0x20)
        ++at;
    return at;
}

} // namespace

bool CatalogReader::readEntry(CatalogEntry &entry)
{
    bool key = false, name = false, category = false, files = false, imported = false;
    const bool read = readObject([&](QByteArrayView member) {
        if (member == "key")
            return key = requiredString(entry.key);
        if (member == "name")
            return name = requiredString(entry.name);
        if (member == "category") {
            QString text;
            if (!requiredString(text))
                return false;
            const auto value = clipCategoryFromRaw(text);
            entry.category = value.value_or(ClipCategory::other);
            return category = value.has_value();
        }
        if (member == "date")
            return optionalDate(entry.date);
        if (member == "importedAt") {
            std::optional<QDateTime> date;
            if (!optionalDate(date) || !date)
                return false;
            entry.importedAt = *date;
            return imported = true;
        }
        if (member == "files") {
            entry.files.clear();
            files = readObject([&](QByteArrayView letterName) {
                QString letter = CatalogJson::channelLetter(letterName);
                CatalogEntry::File file;
                if (!readFile(file))
                    return false;
                entry.files.insert_or_assign(std::move(letter), std::move(file));
                return true;
            });
            return files;
        }
        return skipValue(0);
    });
    return read && key && name && category && files && imported;
}

bool CatalogReader::readStringObject(std::initializer_list<std::pair<const char *, QString *>> fields)
{
    unsigned found = 0;
    const bool read = readObject([&](QByteArrayView member) {
        unsigned bit = 1;
        for (const auto &[name, out] : fields) {
            if (member == name) {
                found |= bit;
                return requiredString(*out);
            }
            bit <<= 1;
        }
        return skipValue(0);
    });
    return read && found == (1u << fields.size()) - 1;
}

bool CatalogReader::readFile(CatalogEntry::File &file)
{
    bool original = false, size = false;
    std::optional<QString> bookmark;
    const bool read = readObject([&](QByteArrayView member) {
        if (member == "originalPath")
            return original = requiredString(file.originalPath);
        if (member == "size")
            return size = wholeNumber(file.size);
        if (member == "importedPath")
            return optionalString(file.importedPath);
        if (member == "bookmark") {
            if (!optionalBytes())
                return false;
            file.bookmark.reset();
            return m_isNull || readBookmark(m_value, file.bookmark);
        }
        if (member == "modified")
            return optionalDate(file.modified);
        if (member == "fingerprint")
            return optionalString(file.fingerprint);
        if (member == "storedPath")
            return optionalString(file.storedPath);
        return skipValue(0);
    });
    // Most files never moved: the two paths share one text in memory.
    if (file.importedPath && *file.importedPath == file.originalPath)
        file.importedPath = file.originalPath;
    return read && original && size;
}

bool CatalogReader::readBookmark(QByteArrayView text, PrefixBytes &out)
{
    constexpr qsizetype shortestShared = 32;
    if (!CatalogJson::decodeBase64(text, m_bytes))
        return false;
    const QByteArrayView bytes = m_bytes;
    if (m_block && bytes.startsWith(m_block->prefix)) {
        out = PrefixBytes::withRest(m_block, bytes.sliced(m_block->prefix.size()));
    } else {
        const qsizetype most = std::min(bytes.size(), m_previousBytes.size());
        qsizetype common = 0;
        while (common < most && bytes[common] == m_previousBytes[common])
            ++common;
        if (common >= shortestShared) {
            finishBlock();
            m_block = PrefixBytes::SharedBlock(new PrefixBytes::Block);
            m_block->prefix = bytes.first(common).toByteArray();
            out = PrefixBytes::withRest(m_block, bytes.sliced(common));
        } else {
            out = bytes.toByteArray();
        }
    }
    std::swap(m_bytes, m_previousBytes); // both buffers are used again
    return true;
}

void CatalogReader::finishBlock()
{
    if (m_block)
        m_block->rests.squeeze();
}

bool CatalogReader::takeWord(const char *word)
{
    const qsizetype length = qsizetype(std::strlen(word));
    if (m_end - m_at < length || std::memcmp(m_at, word, size_t(length)) != 0)
        return false;
    m_at += length;
    return true;
}

bool CatalogReader::readHex4(char32_t &unit)
{
    if (m_end - m_at < 4)
        return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = TextCodes::hexDigit(m_at[i]);
        if (digit < 0)
            return false;
        unit = unit * 16 + char32_t(digit);
    }
    m_at += 4;
    return true;
}

bool CatalogReader::readText(QByteArrayView &text, QByteArray &buffer)
{
    if (m_at == m_end || *m_at != '"')
        return false;
    ++m_at;
    // Most strings have no escape: no copy.
    const char *start = m_at;
    m_at = plainRunEnd(m_at, m_end);
    if (m_at != m_end && *m_at == '"') {
        text = QByteArrayView(start, m_at - start);
        ++m_at;
        return true;
    }
    m_at = start;
    const bool read = decodeText(buffer);
    text = buffer;
    return read;
}

bool CatalogReader::decodeText(QByteArray &out)
{
    out.resize(0); // keeps the buffer
    for (;;) {
        const char *run = m_at;
        m_at = plainRunEnd(m_at, m_end);
        out.append(run, m_at - run);
        if (m_at == m_end || static_cast<unsigned char>(*m_at) < 0x20)
            return false;
        if (*m_at++ == '"')
            return true;
        if (m_at == m_end)
            return false;
        const char escape = *m_at++;
        switch (escape) {
        case '"':
        case '\\':
        case '/':
            out.append(escape);
            continue;
        case 'b':
            out.append('\b');
            continue;
        case 'f':
            out.append('\f');
            continue;
        case 'n':
            out.append('\n');
            continue;
        case 'r':
            out.append('\r');
            continue;
        case 't':
            out.append('\t');
            continue;
        case 'u':
            break;
        default:
            return false;
        }
        char32_t unit = 0;
        if (!readHex4(unit))
            return false;
        if (unit >= 0xdc00 && unit <= 0xdfff)
            return false;
        if (unit >= 0xd800 && unit <= 0xdbff) {
            char32_t low = 0;
            if (!takeWord("\\u") || !readHex4(low) || low < 0xdc00 || low > 0xdfff)
                return false;
            unit = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
        }
        const char32_t code[] = {unit};
        out.append(QString::fromUcs4(code, 1).toUtf8());
    }
}

bool CatalogReader::requiredString(QString &out)
{
    skipSpace();
    if (!readText(m_value, m_valueBuffer))
        return false;
    out = QString::fromUtf8(m_value);
    return true;
}

bool CatalogReader::optionalBytes()
{
    skipSpace();
    m_isNull = takeWord("null");
    return m_isNull || readText(m_value, m_valueBuffer);
}

bool CatalogReader::optionalString(SlimOptional<QString> &out)
{
    if (!optionalBytes())
        return false;
    out.reset();
    if (!m_isNull)
        out = QString::fromUtf8(m_value);
    return true;
}

QByteArrayView CatalogReader::numberText()
{
    const char *start = m_at;
    const auto digits = [&] {
        const char *from = m_at;
        while (m_at != m_end && *m_at >= '0' && *m_at <= '9')
            ++m_at;
        return m_at - from;
    };
    if (m_at != m_end && *m_at == '-')
        ++m_at;
    if (m_at == m_end)
        return {};
    if (*m_at == '0')
        ++m_at;
    else if (digits() == 0)
        return {};
    if (m_at != m_end && *m_at == '.') {
        ++m_at;
        if (digits() == 0)
            return {};
    }
    if (m_at != m_end && (*m_at == 'e' || *m_at == 'E')) {
        ++m_at;
        if (m_at != m_end && (*m_at == '+' || *m_at == '-'))
            ++m_at;
        if (digits() == 0)
            return {};
    }
    return QByteArrayView(start, m_at - start);
}

bool CatalogReader::wholeNumber(qint64 &out)
{
    skipSpace();
    const QByteArrayView text = numberText();
    if (text.isEmpty())
        return false;
    const char *first = text.data(), *last = text.data() + text.size();
    // Out of range, from_chars still passes the digits but leaves the value as it was.
    if (const auto read = std::from_chars(first, last, out); read.ptr == last && read.ec == std::errc())
        return true;
    double value = 0;
    const auto read = std::from_chars(first, last, value);
    if (read.ptr != last || read.ec != std::errc() || !std::isfinite(value) || value != std::trunc(value) ||
        value < -9.2233720368547758e18 || value >= 9.2233720368547758e18)
        return false;
    out = qint64(value);
    return true;
}

bool CatalogReader::skipValue(int depth)
{
    constexpr int deepest = 512; // the document parser's limit is of this order too
    skipSpace();
    if (m_at == m_end || depth > deepest)
        return false;
    switch (*m_at) {
    case '"':
        return readText(m_value, m_valueBuffer);
    case '{':
        return readObject([&](QByteArrayView) { return skipValue(depth + 1); });
    case '[':
        return readArray([&] { return skipValue(depth + 1); });
    case 't':
        return takeWord("true");
    case 'f':
        return takeWord("false");
    case 'n':
        return takeWord("null");
    default:
        return !numberText().isEmpty();
    }
}
