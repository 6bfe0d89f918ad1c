#include "roadcore/CatalogJournal.h"

#include "roadcore/CatalogJson.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace CatalogJson;

namespace {

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

} // namespace

QByteArray CatalogJournal::header(QByteArrayView catalogIdentity)
{
    QByteArray out("{\"catalog\":");
    appendString(out, QString::fromLatin1(catalogIdentity));
    out.append("}\n");
    return out;
}

QByteArray CatalogJournal::line(const Record &record)
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

CatalogJournal::Reading CatalogJournal::read(QByteArrayView journal, QByteArrayView catalogIdentity)
{
    Reading reading;
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
        Record record;
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

bool CatalogJournal::apply(CatalogEntry::Catalog &catalog, const Record &record)
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
