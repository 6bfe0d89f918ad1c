#include "roadcore/CatalogFileRecord.h"

#include "roadcore/CatalogJson.h"

#include "platform/Paths.h"

using namespace CatalogJson;

std::optional<QString> CatalogFileRecord::usableStoredPath() const
{
    if (!storedPath || !storedPath->startsWith(QLatin1String("Files/")) || storedPath->size() <= 6 ||
        Paths::hasComponent(*storedPath, u"..") || storedPath->contains(QChar(0)))
        return std::nullopt;
    return storedPath;
}

void CatalogFileRecord::writeJson(QByteArray &out) const
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
