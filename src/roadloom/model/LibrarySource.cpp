#include "roadloom/model/LibrarySource.h"

#include <QHashFunctions>

QString rawValue(LibrarySource::Kind kind)
{
    switch (kind) {
    case LibrarySource::Kind::catalog:
        return QStringLiteral("catalog");
    case LibrarySource::Kind::device:
        return QStringLiteral("device");
    case LibrarySource::Kind::folder:
        return QStringLiteral("folder");
    case LibrarySource::Kind::files:
        return QStringLiteral("files");
    }
    return {};
}

std::optional<LibrarySource::Kind> librarySourceKindFromRaw(QStringView raw)
{
    for (LibrarySource::Kind kind : allLibrarySourceKinds)
        if (raw == rawValue(kind))
            return kind;
    return std::nullopt;
}

QString LibrarySource::id() const
{
    return rawValue(kind) + QLatin1Char(':') + urls.join(QLatin1Char('|'));
}

LibrarySource LibrarySource::allMedia()
{
    return {Kind::catalog, QStringLiteral("All Media"), {}};
}

size_t qHash(const LibrarySource &source, size_t seed)
{
    return qHashMulti(seed, rawValue(source.kind), source.name, source.urls);
}
