// Texts and raw values of the recording model's enumerations.
#include "platform/Defaults.h"
#include "roadcore/CachePolicy.h"
#include "roadcore/Channel.h"
#include "roadcore/ClipCategory.h"
#include "roadcore/StorageState.h"

QString rawValue(Channel channel)
{
    switch (channel) {
    case Channel::front:
        return QStringLiteral("F");
    case Channel::rear:
        return QStringLiteral("R");
    case Channel::interior:
        return QStringLiteral("I");
    }
    return {};
}

QString title(Channel channel)
{
    switch (channel) {
    case Channel::front:
        return QStringLiteral("Front");
    case Channel::rear:
        return QStringLiteral("Rear");
    case Channel::interior:
        return QStringLiteral("Interior");
    }
    return {};
}

std::optional<Channel> channelFromRaw(QStringView raw)
{
    for (Channel c : allChannels)
        if (raw == rawValue(c))
            return c;
    return std::nullopt;
}

QString rawValue(ClipCategory category)
{
    switch (category) {
    case ClipCategory::continuous:
        return QStringLiteral("continuous");
    case ClipCategory::event:
        return QStringLiteral("event");
    case ClipCategory::manual:
        return QStringLiteral("manual");
    case ClipCategory::parking:
        return QStringLiteral("parking");
    case ClipCategory::motion:
        return QStringLiteral("motion");
    case ClipCategory::timelapse:
        return QStringLiteral("timelapse");
    case ClipCategory::other:
        return QStringLiteral("other");
    }
    return {};
}

QString title(ClipCategory category)
{
    switch (category) {
    case ClipCategory::continuous:
        return QStringLiteral("Continuous");
    case ClipCategory::event:
        return QStringLiteral("Incident");
    case ClipCategory::manual:
        return QStringLiteral("Manual");
    case ClipCategory::parking:
        return QStringLiteral("Parking");
    case ClipCategory::motion:
        return QStringLiteral("Motion");
    case ClipCategory::timelapse:
        return QStringLiteral("Time-lapse");
    case ClipCategory::other:
        return QStringLiteral("Other");
    }
    return {};
}

QString symbol(ClipCategory category)
{
    switch (category) {
    case ClipCategory::continuous:
        return QStringLiteral("car.fill");
    case ClipCategory::event:
        return QStringLiteral("exclamationmark.triangle.fill");
    case ClipCategory::manual:
        return QStringLiteral("hand.tap.fill");
    case ClipCategory::parking:
        return QStringLiteral("parkingsign.circle.fill");
    case ClipCategory::motion:
        return QStringLiteral("figure.walk.motion");
    case ClipCategory::timelapse:
        return QStringLiteral("timelapse");
    case ClipCategory::other:
        return QStringLiteral("film");
    }
    return {};
}

std::optional<ClipCategory> clipCategoryFromRaw(QStringView raw)
{
    for (ClipCategory c : allClipCategories)
        if (raw == rawValue(c))
            return c;
    return std::nullopt;
}

QString rawValue(StorageState state)
{
    switch (state) {
    case StorageState::original:
        return QStringLiteral("original");
    case StorageState::moved:
        return QStringLiteral("moved");
    case StorageState::cached:
        return QStringLiteral("cached");
    case StorageState::missing:
        return QStringLiteral("missing");
    }
    return {};
}

std::optional<StorageState> storageStateFromRaw(QStringView raw)
{
    for (StorageState s : {StorageState::original, StorageState::moved, StorageState::cached, StorageState::missing})
        if (raw == rawValue(s))
            return s;
    return std::nullopt;
}

QString rawValue(CachePolicy policy)
{
    switch (policy) {
    case CachePolicy::all:
        return QStringLiteral("all");
    case CachePolicy::important:
        return QStringLiteral("important");
    case CachePolicy::off:
        return QStringLiteral("off");
    }
    return {};
}

QString title(CachePolicy policy)
{
    switch (policy) {
    case CachePolicy::all:
        return QStringLiteral("All imported media");
    case CachePolicy::important:
        return QStringLiteral("Incident & manual recordings only");
    case CachePolicy::off:
        return QStringLiteral("Off");
    }
    return {};
}

std::optional<CachePolicy> cachePolicyFromRaw(QStringView raw)
{
    for (CachePolicy p : allCachePolicies)
        if (raw == rawValue(p))
            return p;
    return std::nullopt;
}

namespace CachePolicies {
CachePolicy current()
{
    const QString stored = Defaults::standard().string(defaultsKey);
    if (stored == QLatin1String("important"))
        return CachePolicy::important;
    if (stored == QLatin1String("off"))
        return CachePolicy::off;
    return CachePolicy::all;
}
} // namespace CachePolicies
