#pragma once

#include "platform/Result.h"
#include "roadcore/ExportPreset.h"

#include <QString>

#include <atomic>
#include <functional>

struct AVFormatContext;
struct AVPacket;

// Writes a time range of a recording's movie as a QuickTime movie. Blocks until the movie is written,
// failed or was cancelled: call it off the GUI thread. Safe to run several at once.
namespace ClipExporter {

inline const QString unavailableMessage =
    QStringLiteral("This export format isn't available for this video.");
inline const QString cancelledMessage = QStringLiteral("The export was cancelled.");

// `start` and `end` are seconds from the source's start. A passthrough copies video, audio and a timed-text
// track from the keyframe at or before `start`, and an edit list makes the movie begin at `start`; the
// other presets decode from that keyframe and encode from the frame shown at `start`. `progress` (0...1) is
// written as packets are read; `cancel` is read once a packet. On failure or cancel no file is left at
// `destination`.
Result<void> exportMovie(const QString &source, double start, double end, const ExportPreset &preset,
                         const QString &destination, std::atomic<double> *progress = nullptr,
                         const std::atomic<bool> *cancel = nullptr);

// Reads the source's next packet as av_read_frame does; tests stand in a card pulled mid-read with it.
using PacketReader = std::function<int(AVFormatContext *, AVPacket *)>;
// The same export, reading packets through `read`. A read that fails other than at the end of the file
// fails the export with the reason.
Result<void> exportMovieReading(const QString &source, double start, double end, const ExportPreset &preset,
                                const QString &destination, std::atomic<double> *progress,
                                const std::atomic<bool> *cancel, const PacketReader &read);

} // namespace ClipExporter
