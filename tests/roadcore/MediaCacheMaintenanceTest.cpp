#include "MediaCacheFixture.h"

#include <QFile>
#include <QObject>
#include <QThread>

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;

using MediaCacheMaintenanceTest = MediaCacheFixture;

TEST_F(MediaCacheMaintenanceTest, UsageCountsEachStoredCopyOnceAndOnlyWhenItExists)
{
    EXPECT_EQ(cache->usage(), (MediaCache::Usage{0, 0, 0}));
    const DashClip a = add("a", {{Channel::front, pattern(1000)}, {Channel::rear, pattern(1000)}});
    add("b", {{Channel::front, pattern(1000)}, {Channel::rear, pattern(700)}});
    add("c", {{Channel::front, pattern(50)}});
    EXPECT_EQ(cache->usage(), (MediaCache::Usage{0, 0, 3}));
    cacheAll();
    // Four records share the 1000-byte copy.
    EXPECT_EQ(cache->usage(), (MediaCache::Usage{1750, 3, 3}));
    ASSERT_TRUE(QFile::remove(root + "/" + *record(a, Channel::front).storedPath));
    EXPECT_EQ(cache->usage(), (MediaCache::Usage{750, 2, 3}));
}

TEST_F(MediaCacheMaintenanceTest, ClearingKeepsOrDropsCopiesByWhetherTheOriginalsAreThere)
{
    const struct {
        bool keepingUnavailable;
        bool cardPresent;
        QStringList recordings; // left in the catalog
        QStringList withCopies; // of those, with a stored copy
        int filesLeft;          // under "Files"
    } rows[] = {
        {true, true, {"a", "b", "gone"}, {"gone"}, 1},
        {true, false, {"a", "b", "gone"}, {"a", "b", "gone"}, 4},
        {false, true, {"a", "b"}, {}, 0},
        {false, false, {}, {}, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "keeping " << row.keepingUnavailable << ", card " << row.cardPresent);
        QDir(root).removeRecursively();
        QDir(card).removeRecursively();
        cache = open();
        add("a", {{Channel::front, pattern(100)}, {Channel::rear, pattern(200)}});
        add("b", {{Channel::front, pattern(300)}});
        const DashClip gone = add("gone", {{Channel::front, pattern(400)}}, utc(2024, 1, 1),
                                  ClipCategory::event, tmp.filePath("elsewhere"));
        cacheAll();
        QFile::remove(gone.files.at(Channel::front));
        if (!row.cardPresent) {
            ASSERT_TRUE(QDir().rename(card, card + " away"));
        }

        cache->clear(row.keepingUnavailable);
        QStringList recordings, withCopies;
        for (const auto &[key, entry] : catalog()) {
            recordings.append(entry.name);
            if (entry.files.begin()->second.storedPath)
                withCopies.append(entry.name);
            for (const auto &[letter, file] : entry.files)
                EXPECT_TRUE(file.fingerprint); // fingerprints stay
        }
        EXPECT_EQ(recordings, row.recordings);
        EXPECT_EQ(withCopies, row.withCopies);
        EXPECT_EQ(storedFiles().size(), row.filesLeft);
        EXPECT_EQ(cache->usage().cachedFiles, row.filesLeft);
        if (!row.cardPresent) {
            ASSERT_TRUE(QDir().rename(card + " away", card));
        }
    }
}

TEST_F(MediaCacheMaintenanceTest, RemovingDropsARecordingsCopiesOrForgetsIt)
{
    const DashClip x = add("x", {{Channel::front, pattern(500)}});
    const DashClip y = add("y", {{Channel::front, pattern(500)}, {Channel::rear, pattern(20)}});
    cacheAll();
    const QString shared = *record(x, Channel::front).storedPath;

    cache->remove(x.catalogKey(), false);
    EXPECT_FALSE(record(x, Channel::front).storedPath);
    EXPECT_TRUE(record(x, Channel::front).fingerprint);
    EXPECT_TRUE(cache->isPending(x.catalogKey()));
    EXPECT_TRUE(QFile::exists(root + "/" + shared)); // y still names it

    cache->remove(y.catalogKey(), true);
    EXPECT_FALSE(catalog().count(y.catalogKey()));
    EXPECT_EQ(storedFiles(), QStringList{});
    EXPECT_EQ(cache->usage(), (MediaCache::Usage{0, 0, 1}));

    // An unknown key still prunes and saves.
    writeFile(root + "/Files/ab/stray.mp4", "stray");
    QFile::remove(root + "/catalog.json");
    cache->remove("unknown#0", true);
    EXPECT_EQ(storedFiles(), QStringList{});
    EXPECT_EQ(catalog().size(), 1u);
}

TEST_F(MediaCacheMaintenanceTest, PruningDeletesOnlyUnreferencedRegularFilesUnderFiles)
{
    // With and without a trailing "/" on the root.
    for (const QString &given : {root, root + "/"}) {
        SCOPED_TRACE(given.toStdString());
        QDir(root).removeRecursively();
        QDir(card).removeRecursively();
        cache = open(given);
        const DashClip kept = add("kept", {{Channel::front, pattern(100)}, {Channel::rear, pattern(200)}});
        cacheAll();
        // A record that names its copy in a roundabout way still keeps it.
        CatalogEntry::Catalog edited = catalog();
        QString &rear = *edited.at(kept.catalogKey()).files.at("R").storedPath;
        const QString rearCopy = rear;
        rear.replace("Files/", "Files//");
        cache.reset();
        writeFile(root + "/catalog.json", CatalogEntry::writeCatalog(edited));
        cache = open(given);

        const QString outside = tmp.filePath("outside");
        writeFile(outside + "/target.mp4", "target");
        writeFile(outside + "/folder/victim.mp4", "victim");
        writeFile(root + "/Files/ab/stray.mp4", "stray");
        writeFile(root + "/Files/ab/cd/.partial-0A1B", "cut off");
        writeFile(root + "/Files/.hidden", "hidden");
        writeFile(root + "/other.txt", "not ours");
        QDir().mkpath(root + "/Files/empty");
        ASSERT_TRUE(QFile::link(outside + "/target.mp4", root + "/Files/ab/link.mp4"));
        ASSERT_TRUE(QFile::link(outside + "/folder", root + "/Files/linked"));

        cache->remove("unknown#0", false);
        const QString frontCopy = *record(kept, Channel::front).storedPath;
        QStringList expected{"ab/link.mp4", frontCopy.mid(6), rearCopy.mid(6)};
        expected.sort();
        EXPECT_EQ(storedFiles(), expected);
        EXPECT_EQ(readFile(outside + "/target.mp4"), "target");
        EXPECT_EQ(readFile(outside + "/folder/victim.mp4"), "victim");
        EXPECT_TRUE(QFileInfo(root + "/Files/linked").isSymLink());
        EXPECT_TRUE(QFileInfo(root + "/Files/empty").isDir());
        EXPECT_TRUE(QFileInfo(root + "/Files/ab/cd").isDir());
        EXPECT_TRUE(QFile::exists(root + "/other.txt"));
        EXPECT_EQ(cache->resolveForPlayback(kept).cachedChannels,
                  (std::set<Channel>{Channel::front, Channel::rear}));
    }
}

TEST_F(MediaCacheMaintenanceTest, PruningNeverFollowsAFilesFolderThatIsALink)
{
    const QString elsewhere = tmp.filePath("elsewhere");
    writeFile(elsewhere + "/precious.mp4", "precious");
    QDir(root + "/Files").removeRecursively();
    ASSERT_TRUE(QFile::link(elsewhere, root + "/Files"));
    cache->clear(false);
    EXPECT_EQ(readFile(elsewhere + "/precious.mp4"), "precious");
}

TEST_F(MediaCacheMaintenanceTest, PendingMeansARecordWithoutACopyRecorded)
{
    const DashClip done = add("done", {{Channel::front, pattern(10)}, {Channel::rear, pattern(11)}});
    const DashClip half = add("half", {{Channel::front, pattern(12)}, {Channel::rear, pattern(13)}});
    const DashClip none = add("none", {});
    cacheAll();
    cache->remove(half.catalogKey(), false);
    ASSERT_TRUE(cache->perform(cache->pendingJobs(CachePolicy::all)[0]).ok());
    QFile::remove(root + "/" + *record(done, Channel::front).storedPath); // a recorded copy deleted by hand

    EXPECT_FALSE(cache->isPending(done.catalogKey()));
    EXPECT_TRUE(cache->isPending(half.catalogKey()));
    EXPECT_FALSE(cache->isPending(none.catalogKey()));
    EXPECT_FALSE(cache->isPending("unknown#1"));
}

TEST_F(MediaCacheMaintenanceTest, AsynchronousMaintenanceRunsInOrderOnTheCachesThread)
{
    const DashClip clip = add("a", {{Channel::front, pattern(100)}});
    QObject context;
    QList<CacheJob> planned;
    std::optional<MediaCache::Usage> used;
    std::optional<bool> pending;
    cache->pendingJobsAsync(CachePolicy::all).then(&context, [&](const QList<CacheJob> &jobs) {
        planned = jobs;
    });
    ASSERT_TRUE(TestSupport::waitFor([&] { return !planned.isEmpty(); }));
    ASSERT_TRUE(cache->perform(planned[0]).ok());
    cache->removeAsync(clip.catalogKey(), false);
    cache->usageAsync().then(&context, [&](MediaCache::Usage usage) { used = usage; });
    cache->isPendingAsync(clip.catalogKey()).then(&context, [&](bool value) { pending = value; });
    QThread *clearedOn = nullptr;
    cache->clearAsync(false).then(&context, [&] { clearedOn = QThread::currentThread(); });
    ASSERT_TRUE(TestSupport::waitFor([&] { return clearedOn != nullptr; }));
    EXPECT_EQ(used, (MediaCache::Usage{0, 0, 1}));
    EXPECT_EQ(pending, true);
    EXPECT_EQ(clearedOn, QThread::currentThread());
}

} // namespace
