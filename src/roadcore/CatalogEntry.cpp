#include "roadcore/CatalogEntry.h"

#include "platform/BackgroundThread.h"
#include "platform/Paths.h"
#include "platform/TextCodes.h"
#include "platform/ThreadGroup.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// ISO 8601 in UTC with whole seconds: "2024-05-01T08:30:00Z".
QString dateText(const QDateTime &date)
{
    static const QDateTime earliest(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    static const QDateTime latest(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC);
    QDateTime utc = date.isValid() ? date.toUTC() : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    utc = qBound(earliest, utc, latest);
    const QDate d = utc.date();
    const QTime t = utc.time();
    char16_t text[20];
    const auto put = [&](int at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = char16_t(u'0' + value % 10);
    };
    put(0, d.year(), 4);
    put(5, d.month(), 2);
    put(8, d.day(), 2);
    put(11, t.hour(), 2);
    put(14, t.minute(), 2);
    put(17, t.second(), 2);
    text[4] = text[7] = u'-';
    text[10] = u'T';
    text[13] = text[16] = u':';
    text[19] = u'Z';
    return QString(reinterpret_cast<const QChar *>(text), 20);
}

// JSON text of a string: UTF-8 with quotes, backslashes and control characters escaped.
void appendString(QByteArray &out, QStringView text)
{
    static constexpr char hex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    out.append('"');
    qsizetype plain = 0; // start of the run of bytes that need no escape
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (static_cast<unsigned char>(c) >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(utf8.constData() + plain, i - plain);
        plain = i + 1;
        const char *shortForm = nullptr;
        switch (c) {
        case '"':
            shortForm = "\\\"";
            break;
        case '\\':
            shortForm = "\\\\";
            break;
        case '\b':
            shortForm = "\\b";
            break;
        case '\f':
            shortForm = "\\f";
            break;
        case '\n':
            shortForm = "\\n";
            break;
        case '\r':
            shortForm = "\\r";
            break;
        case '\t':
            shortForm = "\\t";
            break;
        }
        if (shortForm) {
            out.append(shortForm);
        } else {
            const char escaped[] = {'\\', 'u', '0', '0', hex[(c >> 4) & 0xf], hex[c & 0xf]};
            out.append(escaped, 6);
        }
    }
    out.append(utf8.constData() + plain, utf8.size() - plain);
    out.append('"');
}

void appendName(QByteArray &out, const char *name)
{
    out.append('"');
    out.append(name);
    out.append("\":");
}

// A member and the comma after it; the writer drops the last comma of an object.
void appendMember(QByteArray &out, const char *name, QStringView value)
{
    appendName(out, name);
    appendString(out, value);
    out.append(',');
}

std::optional<QDateTime> parseDate(QByteArrayView text)
{
    if (text.size() != 20)
        return std::nullopt;
    static constexpr char pattern[] = "dddd-dd-ddTdd:dd:ddZ";
    for (int i = 0; i < 20; ++i) {
        const char c = text[i];
        if (pattern[i] == 'd' ? (c < '0' || c > '9') : c != pattern[i])
            return std::nullopt;
    }
    const auto number = [&](int from, int length) {
        int value = 0;
        for (int i = from; i < from + length; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

// A member that must be present: nothing for absent, null or of another type.
std::optional<QString> requiredString(const QJsonObject &object, QLatin1String name)
{
    const QJsonValue value = object.value(name);
    if (!value.isString())
        return std::nullopt;
    QString text = value.toString();
    // An escaped lone surrogate is no text: it could not be written back as UTF-8.
    if (!text.isValidUtf16())
        return std::nullopt;
    return text;
}

// Base64 text decoded into `out`, whose room is kept from one call to the next.
bool decodeBase64(QByteArrayView text, QByteArray &out)
{
    if (text.size() % 4 != 0)
        return false;
    out.resize(0);
    out.append(text);
    auto decoded = QByteArray::fromBase64Encoding(
        std::move(out), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    out = std::move(decoded.decoded);
    return decoded.decodingStatus == QByteArray::Base64DecodingStatus::Ok;
}

// The member name of a file record: the three channel letters share one text each across the catalog.
QString channelLetter(QByteArrayView name)
{
    static const QString letters[] = {QStringLiteral("F"), QStringLiteral("R"), QStringLiteral("I")};
    for (const QString &letter : letters)
        if (name.size() == 1 && name[0] == char(letter[0].unicode()))
            return letter;
    return QString::fromUtf8(name);
}

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

    bool readEntry(CatalogEntry &entry)
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
                    QString letter = channelLetter(letterName);
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

private:
    bool readFile(CatalogEntry::File &file)
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

    // A bookmark, kept in a block with those before it when it begins as they do, or else with the next
    // ones when it has a long enough beginning in common with the one before: the bookmarks of one volume's
    // files begin alike.
    bool readBookmark(QByteArrayView text, PrefixBytes &out)
    {
        constexpr qsizetype shortestShared = 32;
        if (!decodeBase64(text, m_bytes))
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

    // No more is added to the block: the room kept for more goes back.
    void finishBlock()
    {
        if (m_block)
            m_block->rests.squeeze();
    }

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

    bool takeWord(const char *word)
    {
        const qsizetype length = qsizetype(std::strlen(word));
        if (m_end - m_at < length || std::memcmp(m_at, word, size_t(length)) != 0)
            return false;
        m_at += length;
        return true;
    }

    bool readHex4(char32_t &unit)
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

    // A string at the current place, decoded to UTF-8: `text` views the catalog's own bytes when the string
    // has no escape, else `buffer`, which holds it decoded. A lone surrogate is no text.
    bool readText(QByteArrayView &text, QByteArray &buffer)
    {
        if (m_at == m_end || *m_at != '"')
            return false;
        ++m_at;
        // Most strings have no escape: no copy.
        const char *start = m_at;
        while (m_at != m_end && *m_at != '"' && *m_at != '\\' && static_cast<unsigned char>(*m_at) >= 0x20)
            ++m_at;
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

    // The rest of a string from the current place, after its opening quote, decoded into `out`.
    bool decodeText(QByteArray &out)
    {
        out.resize(0); // keeps the buffer
        for (;;) {
            const char *run = m_at;
            while (m_at != m_end && *m_at != '"' && *m_at != '\\' &&
                   static_cast<unsigned char>(*m_at) >= 0x20)
                ++m_at;
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

    bool requiredString(QString &out)
    {
        skipSpace();
        if (!readText(m_value, m_valueBuffer))
            return false;
        out = QString::fromUtf8(m_value);
        return true;
    }

    // A string or null into m_value; m_isNull tells which.
    bool optionalBytes()
    {
        skipSpace();
        m_isNull = takeWord("null");
        return m_isNull || readText(m_value, m_valueBuffer);
    }

    bool optionalString(SlimOptional<QString> &out)
    {
        if (!optionalBytes())
            return false;
        out.reset();
        if (!m_isNull)
            out = QString::fromUtf8(m_value);
        return true;
    }

    template <class Optional> bool optionalDate(Optional &out)
    {
        if (!optionalBytes())
            return false;
        out.reset();
        if (m_isNull)
            return true;
        out = parseDate(m_value);
        return out.has_value();
    }

    // The extent of a JSON number at the current place; empty when there is none.
    QByteArrayView numberText()
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

    // A number without a fraction that fits 64 bits, written plainly or not ("1e3", "2.0").
    bool wholeNumber(qint64 &out)
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
        if (read.ptr != last || read.ec != std::errc() || !std::isfinite(value) ||
            value != std::trunc(value) || value < -9.2233720368547758e18 || value >= 9.2233720368547758e18)
            return false;
        out = qint64(value);
        return true;
    }

    // Any JSON value, checked and passed over.
    bool skipValue(int depth)
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

    const char *m_at;
    const char *m_end;
    QByteArrayView m_name;                  // the member name just read
    QByteArrayView m_value;                 // the string value just read
    QByteArray m_nameBuffer, m_valueBuffer; // of those with escapes
    QByteArray m_bytes, m_previousBytes;    // the bookmark being read and the one before
    PrefixBytes::SharedBlock m_block;       // of the bookmarks read lately
    bool m_isNull = false;
};

} // namespace

CatalogEntry::Letter::Letter(const QString &text)
{
    // Never destroyed: a catalog may outlive any static object.
    static const auto *channels = new std::array<QExplicitlySharedDataPointer<const Text>, 3>{
        QExplicitlySharedDataPointer<const Text>(new Text(QStringLiteral("F"))),
        QExplicitlySharedDataPointer<const Text>(new Text(QStringLiteral("R"))),
        QExplicitlySharedDataPointer<const Text>(new Text(QStringLiteral("I")))};
    for (const auto &channel : *channels) {
        if (text == channel->text) {
            m_text = channel;
            return;
        }
    }
    m_text = QExplicitlySharedDataPointer<const Text>(new Text(text));
}

CatalogEntry::Files::Files(const Files &other)
{
    *this = other;
}

CatalogEntry::Files &CatalogEntry::Files::operator=(const Files &other)
{
    if (this == &other)
        return *this;
    clear();
    if (other.empty())
        return *this;
    auto *block = static_cast<Block *>(::operator new(itemsOffset + other.size() * sizeof(value_type)));
    block->count = 0;
    auto *into = reinterpret_cast<value_type *>(reinterpret_cast<char *>(block) + itemsOffset);
    try {
        for (const value_type &item : other) {
            new (into + block->count) value_type(item);
            ++block->count;
        }
    } catch (...) {
        std::destroy_n(into, block->count);
        ::operator delete(block);
        throw;
    }
    m_block = block;
    return *this;
}

CatalogEntry::Files &CatalogEntry::Files::operator=(Files &&other) noexcept
{
    if (this != &other) {
        clear();
        m_block = std::exchange(other.m_block, nullptr);
    }
    return *this;
}

void CatalogEntry::Files::clear()
{
    if (!m_block)
        return;
    std::destroy_n(items(), size());
    ::operator delete(m_block);
    m_block = nullptr;
}

CatalogEntry::Files::iterator CatalogEntry::Files::rebuild(size_t at, value_type *item)
{
    const size_t count = size() + (item ? 1 : 0) - (item ? 0 : 1);
    if (count == 0) {
        clear();
        return end();
    }
    // Moving the files cannot throw: only the allocation can, before anything changed.
    static_assert(std::is_nothrow_move_constructible_v<value_type>);
    auto *block = static_cast<Block *>(::operator new(itemsOffset + count * sizeof(value_type)));
    block->count = count;
    auto *into = reinterpret_cast<value_type *>(reinterpret_cast<char *>(block) + itemsOffset);
    value_type *from = items();
    const size_t before = size();
    size_t k = 0;
    for (size_t i = 0; i < before; ++i) {
        if (i == at) {
            if (item)
                new (into + k++) value_type(std::move(*item));
            else
                continue;
        }
        new (into + k++) value_type(std::move(from[i]));
    }
    if (item && at == before)
        new (into + k++) value_type(std::move(*item));
    clear();
    m_block = block;
    return items() + at;
}

CatalogEntry::Files::iterator CatalogEntry::Files::erase(const_iterator at)
{
    return rebuild(size_t(at - items()), nullptr);
}

CatalogEntry::Files::iterator CatalogEntry::Files::lowerBound(const QString &letter)
{
    return std::lower_bound(begin(), end(), letter,
                            [](const value_type &item, const QString &l) { return item.first.text() < l; });
}

CatalogEntry::Files::iterator CatalogEntry::Files::find(const QString &letter)
{
    const auto it = lowerBound(letter);
    return it != end() && it->first == letter ? it : end();
}

CatalogEntry::Files::const_iterator CatalogEntry::Files::find(const QString &letter) const
{
    return const_cast<Files *>(this)->find(letter);
}

CatalogEntry::File &CatalogEntry::Files::at(const QString &letter)
{
    const auto it = find(letter);
    if (it == end())
        throw std::out_of_range("no file of that channel");
    return it->second;
}

const CatalogEntry::File &CatalogEntry::Files::at(const QString &letter) const
{
    return const_cast<Files *>(this)->at(letter);
}

std::pair<CatalogEntry::Files::iterator, bool> CatalogEntry::Files::try_emplace(const QString &letter,
                                                                                File file)
{
    const auto it = lowerBound(letter);
    if (it != end() && it->first == letter)
        return {it, false};
    value_type item(letter, std::move(file));
    return {rebuild(size_t(it - begin()), &item), true};
}

std::pair<CatalogEntry::Files::iterator, bool> CatalogEntry::Files::try_emplace(const QString &letter)
{
    return try_emplace(letter, File());
}

std::pair<CatalogEntry::Files::iterator, bool> CatalogEntry::Files::insert_or_assign(const QString &letter,
                                                                                     File file)
{
    auto [it, made] = try_emplace(letter);
    it->second = std::move(file);
    return {it, made};
}

size_t CatalogEntry::Files::erase(const QString &letter)
{
    const auto it = find(letter);
    if (it == end())
        return 0;
    erase(it);
    return 1;
}

std::optional<QString> CatalogEntry::File::usableStoredPath() const
{
    if (!storedPath || !storedPath->startsWith(QLatin1String("Files/")) || storedPath->size() <= 6 ||
        Paths::hasComponent(*storedPath, u"..") || storedPath->contains(QChar(0)))
        return std::nullopt;
    return storedPath;
}

void CatalogEntry::File::writeJson(QByteArray &out) const
{
    // Members in name order, as every object of the file.
    out.append('{');
    if (bookmark) {
        // Base64 needs no escape.
        appendName(out, "bookmark");
        out.append('"').append(bookmark->toBase64()).append("\",");
    }
    if (fingerprint)
        appendMember(out, "fingerprint", *fingerprint);
    if (importedPath)
        appendMember(out, "importedPath", *importedPath);
    if (modified && modified->isValid())
        appendMember(out, "modified", dateText(*modified));
    appendMember(out, "originalPath", originalPath);
    appendName(out, "size");
    out.append(QByteArray::number(size));
    out.append(',');
    if (storedPath)
        appendMember(out, "storedPath", *storedPath);
    out.chop(1);
    out.append('}');
}

void CatalogEntry::writeJson(QByteArray &out) const
{
    out.append('{');
    appendMember(out, "category", rawValue(category));
    if (date && date->isValid())
        appendMember(out, "date", dateText(*date));
    appendName(out, "files");
    out.append('{');
    for (const auto &[letter, file] : files) {
        appendString(out, letter);
        out.append(':');
        file.writeJson(out);
        out.append(',');
    }
    if (!files.empty())
        out.chop(1);
    out.append("},");
    appendMember(out, "importedAt", dateText(importedAt));
    appendMember(out, "key", key);
    appendMember(out, "name", name);
    out.chop(1);
    out.append('}');
}

QByteArray CatalogEntry::writeCatalog(const Catalog &catalog)
{
    QByteArray out;
    out.reserve(qsizetype(catalog.size()) * 1024);
    out.append('[');
    for (const auto &item : catalog) {
        item.second.writeJson(out);
        out.append(',');
    }
    if (!catalog.empty())
        out.chop(1);
    out.append(']');
    return out;
}

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// The first place at or after `from` that looks like the start of an entry after another: "{" after "}"
// and ",". Only a guess: the same characters may stand inside a string or a nested value.
const char *entryStartAfter(const char *from, const char *end)
{
    for (const char *p = from; p < end; ++p) {
        p = static_cast<const char *>(std::memchr(p, '}', size_t(end - p)));
        if (!p)
            return nullptr;
        const char *q = p + 1;
        while (q < end && isSpace(*q))
            ++q;
        if (q == end || *q != ',')
            continue;
        ++q;
        while (q < end && isSpace(*q))
            ++q;
        if (q < end && *q == '{')
            return q;
    }
    return nullptr;
}

bool stopped(const std::atomic<bool> *stop)
{
    return stop && stop->load(std::memory_order_relaxed);
}

// The entries from `from`, the catalog's start or that of an entry, up to `until`, the start of the next
// part, which must be where an entry ends and the next begins; without `until`, up to the text's end.
// Nothing when the text is unreadable there, the part does not end exactly at `until`, or `*abandon`
// turned true.
std::optional<CatalogEntry::Catalog> readPart(const char *from, const char *until, const char *end,
                                              bool first, const std::atomic<bool> *stop,
                                              const std::atomic<bool> &abandon)
{
    CatalogReader reader(QByteArrayView(from, end - from));
    CatalogEntry::Catalog part;
    if (first && !reader.take('['))
        return std::nullopt;
    for (;;) {
        if (part.size() % 256 == 0 && (stopped(stop) || abandon.load(std::memory_order_relaxed)))
            return std::nullopt;
        CatalogEntry entry;
        if (!reader.readEntry(entry))
            return std::nullopt;
        QString key = entry.key;
        part.try_emplace(part.end(), std::move(key), std::move(entry));
        if (!reader.take(','))
            break;
        if (until && reader.position() >= until) {
            if (reader.position() == until)
                return part;
            return std::nullopt;
        }
    }
    if (until || !reader.take(']') || !reader.atEnd())
        return std::nullopt;
    return part;
}

// A large catalog read in parts on a few threads, cut where entries seem to meet. Nothing when a cut fell
// elsewhere or the text is unreadable: reading it in order tells which.
std::optional<CatalogEntry::Catalog> readInParts(QByteArrayView json, const std::atomic<bool> *stop)
{
    const size_t threads = 1 + BackgroundThread::helperThreads(3);
    if (threads < 2 || json.size() < (4 << 20))
        return std::nullopt;
    const char *begin = json.data(), *end = json.data() + json.size();
    std::vector<const char *> starts{begin};
    for (size_t k = 1; k < threads; ++k) {
        const char *start = entryStartAfter(begin + json.size() * qsizetype(k) / qsizetype(threads), end);
        if (!start)
            break;
        if (start > starts.back())
            starts.push_back(start);
    }
    if (starts.size() < 2)
        return std::nullopt;
    std::vector<std::optional<CatalogEntry::Catalog>> parts(starts.size());
    std::atomic<bool> failed = false;
    {
        const auto read = [&](size_t i) {
            parts[i] = readPart(starts[i], i + 1 < starts.size() ? starts[i + 1] : nullptr, end, i == 0, stop,
                                failed);
            if (!parts[i])
                failed = true;
        };
        ThreadGroup helpers;
        for (size_t i = 1; i < starts.size(); ++i) {
            // The helpers are background work whoever asked for the catalog; the asking thread keeps its
            // priority. Without a thread to spare the catalog is read in order.
            if (!helpers.start([&read, i] {
                    BackgroundThread::lowerCurrentPriority();
                    read(i);
                })) {
                failed = true;
                break;
            }
        }
        if (!failed)
            read(0);
    }
    if (failed)
        return std::nullopt;
    // In file order: of equal keys the first stays, as when read in order.
    CatalogEntry::Catalog catalog = std::move(*parts[0]);
    for (size_t i = 1; i < parts.size(); ++i)
        while (!parts[i]->empty())
            catalog.insert(catalog.end(), parts[i]->extract(parts[i]->begin()));
    return catalog;
}

} // namespace

std::optional<CatalogEntry::Catalog> CatalogEntry::readCatalog(QByteArrayView json,
                                                               const std::atomic<bool> *stop)
{
    // Outside strings JSON is ASCII, so one check of the whole text covers every string in it.
    if (!json.isValidUtf8())
        return std::nullopt;
    if (auto catalog = readInParts(json, stop))
        return catalog;
    if (stopped(stop))
        return std::nullopt;
    CatalogReader reader(json);
    Catalog catalog;
    const bool read = reader.readArray([&] {
        if (stop && catalog.size() % 256 == 0 && stop->load(std::memory_order_relaxed))
            return false;
        CatalogEntry entry;
        if (!reader.readEntry(entry))
            return false;
        // The file is in key order, so the end is the place to insert; of equal keys the first stays.
        QString key = entry.key;
        catalog.try_emplace(catalog.end(), std::move(key), std::move(entry));
        return true;
    });
    if (!read || !reader.atEnd())
        return std::nullopt;
    return catalog;
}

QByteArray CatalogEntry::journalHeader(QByteArrayView catalogIdentity)
{
    QByteArray out("{\"catalog\":");
    appendString(out, QString::fromLatin1(catalogIdentity));
    out.append("}\n");
    return out;
}

QByteArray CatalogEntry::journalLine(const JournalRecord &record)
{
    QByteArray out;
    out.append('{');
    appendMember(out, "fingerprint", record.fingerprint);
    appendMember(out, "key", record.key);
    appendMember(out, "letter", record.letter);
    appendMember(out, "storedPath", record.storedPath);
    out.chop(1);
    out.append("}\n");
    return out;
}

CatalogEntry::JournalReading CatalogEntry::readJournal(QByteArrayView journal, QByteArrayView catalogIdentity)
{
    JournalReading reading;
    qsizetype at = 0;
    const auto nextLine = [&]() -> std::optional<QJsonObject> {
        const qsizetype end = journal.indexOf('\n', at);
        if (end < 0)
            return std::nullopt;
        QJsonParseError error;
        const QJsonDocument line =
            QJsonDocument::fromJson(journal.sliced(at, end - at).toByteArray(), &error);
        if (error.error != QJsonParseError::NoError || !line.isObject())
            return std::nullopt;
        at = end + 1;
        return line.object();
    };
    const auto header = nextLine();
    if (!header || header->value(QLatin1String("catalog")).toString() != QString::fromLatin1(catalogIdentity))
        return reading;
    reading.goodBytes = at;
    while (const auto line = nextLine()) {
        JournalRecord record;
        for (auto [name, field] :
             {std::pair{"key", &record.key}, std::pair{"letter", &record.letter},
              std::pair{"fingerprint", &record.fingerprint}, std::pair{"storedPath", &record.storedPath}}) {
            const auto text = requiredString(*line, QLatin1String(name));
            if (!text)
                return reading;
            *field = *text;
        }
        reading.records.append(std::move(record));
        reading.goodBytes = at;
    }
    return reading;
}

bool CatalogEntry::apply(Catalog &catalog, const JournalRecord &record)
{
    const auto entry = catalog.find(record.key);
    if (entry == catalog.end())
        return false;
    const auto file = entry->second.files.find(record.letter);
    if (file == entry->second.files.end())
        return false;
    file->second.fingerprint = record.fingerprint;
    file->second.storedPath = record.storedPath;
    return true;
}
