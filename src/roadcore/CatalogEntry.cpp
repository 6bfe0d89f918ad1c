#include "roadcore/CatalogEntry.h"

#include "platform/Paths.h"

#include <QJsonArray>
#include <QJsonDocument>

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
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02dZ", d.year(), d.month(), d.day(), t.hour(),
                             t.minute(), t.second());
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

QJsonObject CatalogEntry::File::toJson() const
{
    QJsonObject object;
    object.insert(QLatin1String("originalPath"), originalPath);
    if (importedPath)
        object.insert(QLatin1String("importedPath"), *importedPath);
    if (bookmark)
        object.insert(QLatin1String("bookmark"), QString::fromLatin1(bookmark->toBase64()));
    object.insert(QLatin1String("size"), size);
    if (modified && modified->isValid())
        object.insert(QLatin1String("modified"), dateText(*modified));
    if (fingerprint)
        object.insert(QLatin1String("fingerprint"), *fingerprint);
    if (storedPath)
        object.insert(QLatin1String("storedPath"), *storedPath);
    return object;
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

QJsonObject CatalogEntry::toJson() const
{
    QJsonObject object;
    object.insert(QLatin1String("key"), key);
    object.insert(QLatin1String("name"), name);
    object.insert(QLatin1String("category"), rawValue(category));
    if (date && date->isValid())
        object.insert(QLatin1String("date"), dateText(*date));
    QJsonObject filesObject;
    for (const auto &[letter, file] : files)
        filesObject.insert(letter, file.toJson());
    object.insert(QLatin1String("files"), filesObject);
    object.insert(QLatin1String("importedAt"), dateText(importedAt));
    return object;
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
    QJsonArray array;
    for (const auto &item : catalog)
        array.append(item.second.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
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
