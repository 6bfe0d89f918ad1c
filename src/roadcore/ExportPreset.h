#pragma once

#include <QSize>
#include <QString>

#include <optional>

// How a clip export writes its movie: every stream copied as stored, or the video re-encoded by an FFmpeg
// encoder at a constant quality, fitted within a size and never enlarged.
struct ExportPreset {
    QString videoEncoder;           // "libx264", "libx265"; empty: copy every stream as stored
    std::optional<QSize> fitWithin; // none: the source's own size
    int crf = 23;
    QString speed = QStringLiteral("medium"); // the encoder's preset
    QString videoTag; // the sample entry's four characters ("hvc1"); empty: the muxer's
    int threads = 0;  // decoder and encoder threads; 0: the codecs' own choice

    bool isPassthrough() const { return videoEncoder.isEmpty(); }

    static ExportPreset passthrough() { return {}; }
    static ExportPreset encode(QString encoder, std::optional<QSize> fitWithin, int crf, QString tag = {})
    {
        ExportPreset preset;
        preset.videoEncoder = std::move(encoder);
        preset.fitWithin = fitWithin;
        preset.crf = crf;
        preset.videoTag = std::move(tag);
        return preset;
    }

    // The picture size a source of `source` size is written at: fitted within the box keeping its shape,
    // never enlarged, each side rounded down to even (at least 2).
    QSize outputSize(QSize source) const;

    friend bool operator==(const ExportPreset &, const ExportPreset &) = default;
};
