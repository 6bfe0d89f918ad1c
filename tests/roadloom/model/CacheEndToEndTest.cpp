// A real caching run: a generated card in a folder source, the shared-cache code on a temporary root, the
// coordinator copying on its own thread; then the card is taken away.
#include "LibraryTestSupport.h"
#include "ScriptedCache.h"
#include "platform/Trash.h"
#include "roadcore/LibraryScanner.h"

#include "platform/Defaults.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/CacheBackend.h"
#include "roadloom/model/CacheCoordinator.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

QByteArray content(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2654435761u * quint32(seed + 1);
    for (char &b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = char(x >> 24);
    }
    return bytes;
}

TEST(CacheEndToEnd, ACopiedCardPlaysFromTheCacheOnceItIsGone)
{
    QTemporaryDir dir;
    const QString card = dir.filePath("CARD");
    const QStringList stems{"REC_20240501_080000", "EVT_20240501_090000", "REC_20240501_100000"};
    QMap<QString, QByteArray> written;
    int seed = 0;
    for (const QString &stem : stems)
        for (const char *channel : {"F", "R"}) {
            const QString path = card + "/DCIM/" + stem + "_" + channel + ".MP4";
            written[QFileInfo(path).fileName()] = content(150000 + 1000 * seed, seed);
            TestSupport::writeFile(path, written[QFileInfo(path).fileName()]);
            ++seed;
        }

    Defaults defaults(dir.filePath("settings.ini"));
    FakeVolumes volumes;
    ScriptedFreeSpace freeSpace;
    freeSpace.available = qint64(1) << 50;
    // No mounted volumes: no bookmark can find the card once it is renamed.
    MediaCache cache(dir.filePath("Media Cache"), [] { return QList<MountEntry>{}; });
    const std::unique_ptr<CacheBackend> backend = CacheBackend::over(cache);
    LibraryStore store({&volumes, &defaults, &cache, &LibraryScanner::scan, &Trash::system()});
    std::optional<QString> playing;
    CacheCoordinator coordinator({backend.get(), &freeSpace, &defaults, [&] { return playing; }});
    store.setCachePlanner(&coordinator);
    QObject::connect(&coordinator, &CacheCoordinator::channelCached, &store, &LibraryStore::markCached);
    QObject::connect(&coordinator, &CacheCoordinator::copiesRemoved, &store,
                     [&store] { store.refreshCacheState(); });
    QSignalSpy cached(&coordinator, &CacheCoordinator::channelCached);

    // The oldest recording is playing: it is copied first.
    DashClip oldest;
    oldest.name = stems.first();
    oldest.byteSize =
        written.value(stems.first() + "_F.MP4").size() + written.value(stems.first() + "_R.MP4").size();
    playing = oldest.catalogKey();
    store.addFolder(card);
    ASSERT_TRUE(TestSupport::waitFor([&] { return store.clips().size() == 3; }));
    ASSERT_TRUE(TestSupport::waitFor(
        [&] {
            return !coordinator.isRunning() && coordinator.usage() && coordinator.usage()->cachedFiles == 6;
        },
        30000));
    ASSERT_EQ(cached.size(), 6);
    EXPECT_EQ(cached.at(0).at(0).toString(), *playing);
    EXPECT_EQ(coordinator.lastError(), std::nullopt);
    for (const DashClip &clip : store.clips())
        EXPECT_EQ(clip.cachedChannels, (std::set<Channel>{Channel::front, Channel::rear}))
            << clip.name.toStdString();

    // Removing a copy while the card is out keeps it: it is the only one left.
    ASSERT_TRUE(QDir().rename(card, dir.filePath("CARD-away")));
    const QList<DashClip> listed = store.clips();
    QSignalSpy usage(&coordinator, &CacheCoordinator::usageChanged);
    coordinator.removeCopy(listed.first());
    ASSERT_TRUE(TestSupport::waitFor([&] { return usage.size() == 1; }));
    EXPECT_EQ(coordinator.usage()->cachedFiles, 6);

    for (const DashClip &clip : listed) {
        const DashClip resolved = cache.resolveForPlayback(clip);
        EXPECT_EQ(resolved.storage(), StorageState::cached) << clip.name.toStdString();
        ASSERT_EQ(resolved.files.size(), 2u);
        for (const auto &[channel, path] : resolved.files) {
            EXPECT_TRUE(path.startsWith(cache.root() + "/Files/")) << path.toStdString();
            EXPECT_EQ(TestSupport::readFile(path), written.value(QFileInfo(path).fileName()));
        }
    }

    // With the card back, the copies of a recording whose files are there go.
    ASSERT_TRUE(QDir().rename(dir.filePath("CARD-away"), card));
    coordinator.removeCopy(listed.first());
    ASSERT_TRUE(TestSupport::waitFor([&] { return usage.size() == 2; }));
    EXPECT_EQ(coordinator.usage()->cachedFiles, 4);
    ASSERT_TRUE(TestSupport::waitFor([&] { return store.clips().first().cachedChannels.empty(); }));

    // The whole cache cleared with the card away: the recordings only their copies kept are forgotten and
    // leave the list at once, no row left naming a copy that is gone.
    ASSERT_TRUE(QDir().rename(card, dir.filePath("CARD-away")));
    store.refreshCacheState();
    ASSERT_TRUE(TestSupport::waitFor([&] {
        const QList<DashClip> now = store.clips();
        return now.size() == 3 && now.at(1).storage() == StorageState::cached;
    }));
    store.setSelectedClipID(store.clips().at(1).id);
    QSignalSpy removed(&store, &LibraryStore::clipRemoved);
    cache.clear(false);
    store.refreshCacheState();
    ASSERT_TRUE(TestSupport::waitFor([&] { return store.clips().isEmpty(); }));
    EXPECT_EQ(removed.size(), 3);
    EXPECT_EQ(store.selectedClipID(), std::nullopt);
}

} // namespace
