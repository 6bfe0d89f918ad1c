#pragma once

#include "roadcore/Channel.h"
#include "roadcore/ChannelMap.h"
#include "roadcore/ClipCategory.h"
#include "roadcore/StorageState.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <set>

// One recording: the channel files the camera wrote for it, with what the media cache knows about them.
// Paths are absolute; dates are in UTC.
struct DashClip {
    QString id;
    QString name;
    ClipCategory category = ClipCategory::other;
    std::optional<QDateTime> date;
    ChannelMap<QString> files; // the files to use now
    qint64 byteSize = 0;
    ChannelMap<QString> originalFiles;
    ChannelMap<StorageState> channelStates;
    ChannelSet cachedChannels;

    std::optional<QString> front() const;
    // The file the second player shows: rear, else interior.
    std::optional<QString> rear() const;
    // The recording's key in the media-cache catalog: independent of folder and volume.
    QString catalogKey() const;
    StorageState storage() const;
    bool isFullyCached() const;
    // Never empty: "/dev/null" when the recording has no file at all.
    QString primaryURL() const;
    QStringList allURLs() const;
    bool isAVI() const;
    QString channelLabel() const;

    friend bool operator==(const DashClip &, const DashClip &) = default;
};

size_t qHash(const DashClip &clip, size_t seed = 0);
