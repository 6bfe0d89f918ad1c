#include "roadcore/CatalogEntry.h"

#include "roadcore/CatalogJson.h"

using namespace CatalogJson;

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
