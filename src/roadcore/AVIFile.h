#pragma once

#include "roadcore/RawRecord.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class ByteSource;

// What a RIFF "AVI " file tells of itself: duration, streams and the text chunks in which cameras keep their
// GPS and G-sensor lines. One walk over the chunk headers; only the small header chunks and the text
// chunks are read.
struct AVIFile {
    struct Stream {
        QString kind;        // "Video", "Audio", "Data (text)", or the raw stream type
        QString codec;       // handler or compression code, or the audio format's name
        QStringList details; // frame size; or sample rate and channel layout
        friend bool operator==(const Stream &, const Stream &) = default;
    };

    std::optional<double> duration; // seconds, from the main header
    int videoStreamCount = 0;
    QList<Stream> streams;
    QList<RawRecord> textRecords;

    // Nesting deeper than this is damage, not structure; such lists are skipped.
    static constexpr int maximumListDepth = 32;
    // A camera writes a few hundred bytes a chunk; a larger text chunk is not telemetry and is skipped
    // unread, so a damaged size field cannot make us hold gigabytes.
    static constexpr qint64 maximumTextChunk = 4 * 1024 * 1024;

    // Nothing when the file cannot be read or is not a RIFF AVI file.
    static std::optional<AVIFile> read(const QString &path);
    static std::optional<AVIFile> read(ByteSource &source);

    friend bool operator==(const AVIFile &, const AVIFile &) = default;

private:
    void walk(ByteSource &source, qint64 from, qint64 to, int depth);
    void describeLastStream(QByteArrayView format);
};
