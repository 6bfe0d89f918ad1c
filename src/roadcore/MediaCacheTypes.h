#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// Which catalogued recordings a listing asks for: those with a catalogued path inside one of `folders`,
// those with a catalogued path equal to one of `paths`, or all of them.
struct MediaCacheScope {
    enum class Kind { under, paths, all };
    Kind kind = Kind::all;
    QStringList folders;
    QSet<QString> paths;

    static MediaCacheScope under(QStringList folders) { return {Kind::under, std::move(folders), {}}; }
    static MediaCacheScope exactPaths(QSet<QString> paths) { return {Kind::paths, {}, std::move(paths)}; }
    static MediaCacheScope all() { return {}; }

    friend bool operator==(const MediaCacheScope &, const MediaCacheScope &) = default;
};

// Totals of the stored copies.
struct MediaCacheUsage {
    qint64 cachedBytes = 0; // catalogued sizes of the distinct stored copies on disk
    int cachedFiles = 0;    // distinct stored copies on disk
    int recordings = 0;     // recordings in the catalog, cached or not

    friend bool operator==(const MediaCacheUsage &, const MediaCacheUsage &) = default;
};

// What a write of the changes whose save failed came to.
enum class MediaCacheWrite {
    nothingUnsaved,
    written,
    failed,
};
