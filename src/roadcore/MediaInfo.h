#pragma once

#include <QDateTime>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the inspector shows of one recording file: its container, duration and size, one row per track, and
// the camera's own boxes under "udta".
struct MediaInfo {
    struct Track {
        QString kind;                   // "Video", "Audio", "Data (text)", "Metadata", "Timecode", ...
        QString codec;                  // readable codec name; empty when the track has no description
        QStringList details;            // display lines
        std::optional<QString> handler; // the track's handler name
        std::optional<QString> encoder; // the compressor name the track's description carries
        friend bool operator==(const Track &, const Track &) = default;
    };

    struct VendorBox {
        QString path;       // "moov/udta/" followed by the box's type, for example
        qint64 size = 0;    // as its header declares it, header included
        QString hexPreview; // the first 48 payload bytes as "%02X", joined by spaces
        std::optional<QString> text;
        friend bool operator==(const VendorBox &, const VendorBox &) = default;
    };

    QString container;
    std::optional<QString> brand;
    std::optional<QDateTime> creationTime;
    std::optional<double> duration; // seconds
    qint64 fileSize = 0;
    std::optional<double> overallBitrate; // bits per second
    QList<Track> tracks;
    QList<VendorBox> vendorBoxes;
};

inline size_t qHash(const MediaInfo::Track &track, size_t seed = 0)
{
    return qHashMulti(seed, track.kind, track.codec, track.details, track.handler.value_or(QString()),
                      track.handler.has_value(), track.encoder.value_or(QString()),
                      track.encoder.has_value());
}

inline size_t qHash(const MediaInfo::VendorBox &box, size_t seed = 0)
{
    return qHashMulti(seed, box.path, box.size, box.hexPreview, box.text.value_or(QString()),
                      box.text.has_value());
}
