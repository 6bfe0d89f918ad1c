#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

struct AVFormatContext;
struct AVPacket;

// One stream of a media file as the demuxer describes it from the container's headers.
struct MediaStream {
    enum class Type { video, audio, subtitle, data, attachment, unknown };

    int index = 0; // position among the file's streams
    int id = 0;    // the container's own identifier (the MP4 track ID)
    Type type = Type::unknown;
    QString codecName; // the decoder's short name ("h264", "aac", "mov_text"), "none" when unknown
    QString codecTag;  // four-character code in the container's byte order ("avc1"); empty when none
    int width = 0;     // coded size, before any rotation
    int height = 0;
    double frameRate = 0; // average frames per second; 0 when unknown
    qint64 bitRate = 0;   // bits per second; 0 when unknown
    int sampleRate = 0;
    int channels = 0;
    qint64 frameCount = 0; // samples in the track; 0 when unknown
    QString encoder;       // the "encoder" tag (the compressor name of a movie track)
    QString language;
    QString handlerName;
    double rotation = 0; // degrees clockwise that turn the picture upright, in [0, 360)

    friend bool operator==(const MediaStream &, const MediaStream &) = default;
};

// A packet of one stream: its bytes as stored and its presentation time.
struct MediaPacket {
    int stream = 0;
    QByteArray data;
    std::optional<double> time; // seconds; absent when the container gives none

    friend bool operator==(const MediaPacket &, const MediaPacket &) = default;
};

// A media file opened through libavformat, reading only the container's headers. MP4, MOV and M4V files
// always go to the QuickTime demuxer, other files to a short list of container demuxers, and only the file
// protocol is allowed: a file that pretends to be a playlist cannot make us open URLs or other files.
// libavformat's own log is silenced. Not thread-safe; one object per reading thread.
class MediaFile {
public:
    enum class Demuxer {
        byExtension, // QuickTime for .mp4/.mov/.m4v, otherwise probing among container formats
        quickTime,
    };

    enum class Reading {
        sequential, // the demuxer's usual large reads
        sparse,     // small reads: for a few small samples far apart, such as a text track beside the video
    };

    static Result<MediaFile> open(const QString &path, Demuxer demuxer = Demuxer::byExtension,
                                  Reading reading = Reading::sequential);

    struct ContextDeleter {
        void operator()(AVFormatContext *context) const;
    };
    using Context = std::unique_ptr<AVFormatContext, ContextDeleter>;
    // The same guarded opening for readers that drive the demuxer themselves (the clip exporter).
    static Result<Context> openContext(const QString &path, Demuxer demuxer = Demuxer::byExtension,
                                       Reading reading = Reading::sequential);

    MediaFile(MediaFile &&other) noexcept;
    MediaFile &operator=(MediaFile &&other) noexcept;
    ~MediaFile();

    // The demuxer's name ("mov,mp4,m4a,3gp,3g2,mj2").
    QString formatName() const;
    // Seconds; absent when the container gives none.
    std::optional<double> duration() const;
    const QList<MediaStream> &streams() const { return m_streams; }

    // Reads only the packets of the chosen streams; the demuxer skips the others without reading their data.
    void selectStreams(const QList<int> &indexes);
    // The next packet of a selected stream, in file order; nothing at the end of the file or on an error.
    std::optional<MediaPacket> readPacket();

private:
    struct PacketDeleter {
        void operator()(AVPacket *packet) const;
    };
    MediaFile() = default;

    Context m_context;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
    QList<MediaStream> m_streams;
    QList<bool> m_selected;
};
