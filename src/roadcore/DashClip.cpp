#include "roadcore/DashClip.h"

#include <QFileInfo>
#include <QHash>

std::optional<QString> DashClip::front() const
{
    auto it = files.find(Channel::front);
    if (it == files.end())
        return std::nullopt;
    return it->second;
}

std::optional<QString> DashClip::rear() const
{
    for (Channel c : {Channel::rear, Channel::interior})
        if (auto it = files.find(c); it != files.end())
            return it->second;
    return std::nullopt;
}

QString DashClip::catalogKey() const
{
    // Plain digits whatever the locale: the key is stored in the catalog.
    return name + QLatin1Char('#') + QString::number(byteSize);
}

StorageState DashClip::storage() const
{
    bool moved = false, cached = false;
    for (const auto &[channel, state] : channelStates) {
        if (state == StorageState::missing)
            return StorageState::missing;
        cached |= state == StorageState::cached;
        moved |= state == StorageState::moved;
    }
    if (cached)
        return StorageState::cached;
    return moved ? StorageState::moved : StorageState::original;
}

bool DashClip::isFullyCached() const
{
    if (channelStates.empty())
        return false;
    for (const auto &entry : channelStates)
        if (!cachedChannels.count(entry.first))
            return false;
    return true;
}

QString DashClip::primaryURL() const
{
    for (Channel c : allChannels) {
        if (auto it = files.find(c); it != files.end())
            return it->second;
        if (auto it = originalFiles.find(c); it != originalFiles.end())
            return it->second;
    }
    return QStringLiteral("/dev/null");
}

QStringList DashClip::allURLs() const
{
    QStringList urls;
    for (const auto &entry : files)
        urls.append(entry.second);
    return urls;
}

bool DashClip::isAVI() const { return QFileInfo(primaryURL()).suffix().toLower() == QLatin1String("avi"); }

QString DashClip::channelLabel() const
{
    QStringList letters;
    for (Channel c : allChannels)
        if (files.count(c) || originalFiles.count(c))
            letters.append(rawValue(c));
    return letters.join(QChar(0x00B7));
}

size_t qHash(const DashClip &clip, size_t seed)
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, clip.id);
    seed = combine(seed, clip.name);
    seed = combine(seed, rawValue(clip.category));
    seed = combine(seed, clip.date.has_value());
    if (clip.date)
        seed = combine(seed, clip.date->toMSecsSinceEpoch());
    for (const auto &[channel, path] : clip.files)
        seed = combine(seed, qHash(path, size_t(channel)));
    seed = combine(seed, clip.byteSize);
    for (const auto &[channel, path] : clip.originalFiles)
        seed = combine(seed, qHash(path, size_t(channel)));
    for (const auto &[channel, state] : clip.channelStates)
        seed = combine(seed, int(channel) * 4 + int(state));
    for (Channel channel : clip.cachedChannels)
        seed = combine(seed, int(channel));
    return seed;
}
