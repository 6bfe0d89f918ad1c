#pragma once

#include "roadcore/MediaInfo.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

class ByteSource;

// The facts of an MPEG-4 or QuickTime file that the demuxer does not tell: brand, creation time, handler
// names, sample counts and the camera's boxes under "udta". Reads one header per top-level box and the
// movie box, never the media data.
struct MP4Boxes {
    // One "trak" box, so that each track is described by its own boxes rather than by position.
    struct Track {
        std::optional<uint32_t> trackID;    // from its "tkhd"
        std::optional<QString> handlerName; // from its own "mdia/hdlr"
        std::optional<qint64> sampleCount;  // from its own "mdia/minf/stbl/stsz"
        friend bool operator==(const Track &, const Track &) = default;
    };

    std::optional<QString> majorBrand;
    std::optional<QDateTime> creationTime;
    QStringList handlerNames;   // every "hdlr" met, in walk order
    QList<qint64> sampleCounts; // every "stsz" met, in walk order
    QList<MediaInfo::VendorBox> vendorBoxes;
    QList<Track> tracks; // in file order

    // A larger movie box is not read: it bounds the memory one file can take.
    static constexpr qint64 maximumMovieSize = qint64(1) << 26;
    // Containers nested deeper than this are damage, not structure; they are skipped.
    static constexpr int maximumDepth = 16;

    // Nothing only when the file cannot be opened for reading.
    static std::optional<MP4Boxes> read(const QString &path);
    static MP4Boxes read(ByteSource &source);

    friend bool operator==(const MP4Boxes &, const MP4Boxes &) = default;

private:
    void parse(QByteArrayView body, const QString &path, int depth, qsizetype track);
    void listVendorBoxes(QByteArrayView body, const QString &containerPath);
};
