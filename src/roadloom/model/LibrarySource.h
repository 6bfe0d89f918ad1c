#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <optional>

// One entry of the sidebar: the catalog of every imported recording, a mounted camera card, a folder the
// user added, or the video files opened one by one. `urls` are absolute paths: the roots that are scanned.
struct LibrarySource {
    enum class Kind { catalog, device, folder, files };

    Kind kind = Kind::catalog;
    QString name;
    QStringList urls;

    // The kind's raw value, ":", then the paths joined with "|": what the store keeps as the selection.
    QString id() const;

    // The catalog source, "All Media", id "catalog:".
    static LibrarySource allMedia();

    friend bool operator==(const LibrarySource &, const LibrarySource &) = default;
};

inline constexpr std::array<LibrarySource::Kind, 4> allLibrarySourceKinds{
    LibrarySource::Kind::catalog, LibrarySource::Kind::device, LibrarySource::Kind::folder,
    LibrarySource::Kind::files};

QString rawValue(LibrarySource::Kind kind);
std::optional<LibrarySource::Kind> librarySourceKindFromRaw(QStringView raw);

size_t qHash(const LibrarySource &source, size_t seed = 0);

Q_DECLARE_METATYPE(LibrarySource)
