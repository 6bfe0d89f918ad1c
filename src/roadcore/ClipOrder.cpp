#include "roadcore/ClipOrder.h"

#include "platform/StringOrder.h"

#include <algorithm>
#include <limits>

namespace ClipOrder {

std::vector<qsizetype> positions(const QList<DashClip> &clips, bool newestFirst)
{
    // Decorated with the date as a number: comparing QDateTime values is too slow for long lists.
    struct Key {
        qint64 date;
        qsizetype position;
    };
    std::vector<Key> keys;
    keys.reserve(size_t(clips.size()));
    for (qsizetype i = 0; i < clips.size(); ++i) {
        const DashClip &clip = clips[i];
        keys.push_back({clip.date ? clip.date->toMSecsSinceEpoch() : std::numeric_limits<qint64>::min(), i});
    }
    std::stable_sort(keys.begin(), keys.end(), [&](const Key &a, const Key &b) {
        if (a.date != b.date)
            return newestFirst ? a.date > b.date : a.date < b.date;
        const int byName = StringOrder::compare(clips[a.position].name, clips[b.position].name);
        return newestFirst ? byName > 0 : byName < 0;
    });
    std::vector<qsizetype> result;
    result.reserve(keys.size());
    for (const Key &key : keys)
        result.push_back(key.position);
    return result;
}

void sortNewestFirst(QList<DashClip> &clips)
{
    const std::vector<qsizetype> order = positions(clips, true);
    QList<DashClip> sorted;
    sorted.reserve(clips.size());
    for (qsizetype i : order)
        sorted.append(std::move(clips[i]));
    clips = std::move(sorted);
}

} // namespace ClipOrder
