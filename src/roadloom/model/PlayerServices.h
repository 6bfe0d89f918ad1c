#pragma once

#include "platform/Result.h"
#include "roadcore/Channel.h"
#include "roadcore/DashClip.h"
#include "roadcore/MediaInfo.h"
#include "roadcore/Telemetry.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>

using ChannelFiles = std::map<Channel, QString>;
using ChannelMediaInfo = std::map<Channel, MediaInfo>;

// What the player controller asks of the rest of the program while it loads a recording. Every member
// blocks and is called off the GUI thread; the application passes the real ones, tests their own.
struct PlayerServices {
    // The recording as the media cache knows it now (moved or cached files in place).
    std::function<DashClip(const DashClip &clip)> resolve;
    // How many video streams an AVI file holds; nothing when it cannot be read as one.
    std::function<std::optional<int>(const QString &aviPath)> videoStreamCount;
    // One playable movie per video stream of an AVI file, in stream order.
    std::function<Result<QStringList>(const QString &aviPath, int streamCount)> convert;
    std::function<Telemetry(const ChannelFiles &files)> readTelemetry;
    std::function<MediaInfo(const QString &path)> inspect;
    // Why the file cannot be opened for reading: the system's error number, or 0 when it opens.
    std::function<int(const QString &path)> openError;
};
