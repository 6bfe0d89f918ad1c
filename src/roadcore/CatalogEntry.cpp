#include "roadcore/CatalogEntry.h"

#include "platform/Paths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

std::optional<QDateTime> parseDate(const QString &text)
{
    if (text.size() != 20)
        return std::nullopt;
    static constexpr char pattern[] = "dddd-dd-ddTdd:dd:ddZ";
    for (int i = 0; i < 20; ++i) {
        const char16_t c = text[i].unicode();
        if (pattern[i] == 'd' ? (c < u'0' || c > u'9') : c != char16_t(pattern[i]))
            return std::nullopt;
    }
    const auto number = [&](int from, int length) {
        int value = 0;
        for (int i = from; i < from + length; ++i)
            value = value * 10 + (text[i].unicode() - u'0');
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

// An optional member: absent and null give an empty optional; another type is a fault.
bool optionalString(const QJsonObject &object, QLatin1String name, std::optional<QString> &out)
{
    const QJsonValue value = object.value(name);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString() || !value.toString().isValidUtf16())
        return false;
    out = value.toString();
    return true;
}

bool optionalDate(const QJsonObject &object, QLatin1String name, std::optional<QDateTime> &out)
{
    std::optional<QString> text;
    if (!optionalString(object, name, text))
        return false;
    if (text) {
        out = parseDate(*text);
        return out.has_value();
    }
    return true;
}

std::optional<QByteArray> parseBase64(const QString &text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    for (QChar c : text)
        if (c.unicode() > 0x7f)
            return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(
        text.toLatin1(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

std::optional<qint64> wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    // toInteger answers its default for a fraction or a value beyond 64 bits.
    const qint64 a = value.toInteger(0), b = value.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

} // namespace

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

std::optional<CatalogEntry::File> CatalogEntry::File::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    File file;
    const auto originalPath = requiredString(object, QLatin1String("originalPath"));
    const auto size = wholeNumber(object.value(QLatin1String("size")));
    if (!originalPath || !size)
        return std::nullopt;
    file.originalPath = *originalPath;
    file.size = *size;
    std::optional<QString> bookmark;
    if (!optionalString(object, QLatin1String("importedPath"), file.importedPath) ||
        !optionalString(object, QLatin1String("bookmark"), bookmark) ||
        !optionalDate(object, QLatin1String("modified"), file.modified) ||
        !optionalString(object, QLatin1String("fingerprint"), file.fingerprint) ||
        !optionalString(object, QLatin1String("storedPath"), file.storedPath))
        return std::nullopt;
    if (bookmark) {
        file.bookmark = parseBase64(*bookmark);
        if (!file.bookmark)
            return std::nullopt;
    }
    return file;
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

std::optional<CatalogEntry> CatalogEntry::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    CatalogEntry entry;
    const auto key = requiredString(object, QLatin1String("key"));
    const auto name = requiredString(object, QLatin1String("name"));
    const auto category = requiredString(object, QLatin1String("category"));
    const auto importedAt = requiredString(object, QLatin1String("importedAt"));
    const QJsonValue files = object.value(QLatin1String("files"));
    if (!key || !name || !category || !importedAt || !files.isObject())
        return std::nullopt;
    const auto clipCategory = clipCategoryFromRaw(*category);
    const auto imported = parseDate(*importedAt);
    if (!clipCategory || !imported || !optionalDate(object, QLatin1String("date"), entry.date))
        return std::nullopt;
    entry.key = *key;
    entry.name = *name;
    entry.category = *clipCategory;
    entry.importedAt = *imported;
    const QJsonObject filesObject = files.toObject();
    for (auto it = filesObject.begin(); it != filesObject.end(); ++it) {
        auto file = File::fromJson(it.value());
        if (!file || !it.key().isValidUtf16())
            return std::nullopt;
        entry.files.emplace(it.key(), std::move(*file));
    }
    return entry;
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

std::optional<CatalogEntry::Catalog> CatalogEntry::readCatalog(QByteArrayView json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    Catalog catalog;
    for (const QJsonValue &value : document.array()) {
        auto entry = fromJson(value);
        if (!entry)
            return std::nullopt;
        const QString key = entry->key;
        catalog.try_emplace(key, std::move(*entry));
    }
    return catalog;
}
