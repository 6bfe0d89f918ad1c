// The quit's fold of the journal: the last write of the program, whatever the quit had to abandon.
#include "MediaCacheFixture.h"

#include <QFile>
#include <QSemaphore>

#include <atomic>
#include <map>
#include <thread>

namespace {

using namespace TestSupport;

class MediaCacheQuitTest : public MediaCacheFixture {
protected:
    // Every file in the root and below, by its relative path, with its bytes.
    std::map<QString, QByteArray> everyFile() const
    {
        std::map<QString, QByteArray> files;
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            files[path.mid(root.size() + 1)] = readFile(path);
        }
        return files;
    }
};

// What the quit abandoned may still come to the cache after the fold: it writes and deletes nothing.
TEST_F(MediaCacheQuitTest, NothingIsWrittenAfterTheQuitsFold)
{
    const DashClip copied = add("copied", {{Channel::front, "front of copied"}});
    const DashClip waiting = add("waiting", {{Channel::front, "front of waiting"}});
    QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(jobs.size(), 2);
    const qsizetype first = jobs.first().key == copied.catalogKey() ? 0 : 1;
    ASSERT_TRUE(cache->perform(jobs.takeAt(first)).ok());
    ASSERT_TRUE(QFile::exists(root + "/catalog.journal"));

    EXPECT_EQ(cache->foldJournalForQuit(QDeadlineTimer(0)), MediaCache::QuitFold::written);
    EXPECT_FALSE(QFile::exists(root + "/catalog.journal"));
    const std::map<QString, QByteArray> folded = everyFile();

    EXPECT_FALSE(cache->perform(jobs.first()).ok());
    add("late", {{Channel::front, "front of late"}});
    EXPECT_FALSE(cache->remove(copied.catalogKey(), true));
    EXPECT_FALSE(cache->removeReplaceableCopies(waiting.catalogKey()));
    EXPECT_FALSE(cache->clear(false));
    cache->writeUnsaved();
    EXPECT_EQ(everyFile(), folded);
}

// A call the quit abandoned holds the cache (a bookmark made on a file system that stopped answering): the
// fold gives up at the deadline, and the next start reads the journal it left.
TEST_F(MediaCacheQuitTest, AFoldTheHeldCacheDoesNotLetInTimeLeavesTheJournalToTheNextStart)
{
    std::atomic<bool> armed = false, holding = false;
    QSemaphore release;
    cache = std::make_unique<MediaCache>(root, [&] {
        if (armed.exchange(false)) {
            holding = true;
            release.tryAcquire(1, 20000); // answers late, so that a fold that waits fails rather than hangs
        }
        return QList<MountEntry>{};
    });
    const DashClip copied = add("copied", {{Channel::front, "front of copied"}});
    cacheAll();
    ASSERT_TRUE(QFile::exists(root + "/catalog.journal"));
    const QByteArray catalogBefore = readFile(root + "/catalog.json");
    armed = true;
    std::thread abandoned([&] { add("late", {{Channel::front, "front of late"}}); });
    ASSERT_TRUE(waitFor([&] { return holding.load(); }));

    EXPECT_EQ(cache->foldJournalForQuit(QDeadlineTimer(50)), MediaCache::QuitFold::skipped);
    EXPECT_TRUE(QFile::exists(root + "/catalog.journal"));
    EXPECT_EQ(readFile(root + "/catalog.json"), catalogBefore);
    // The program ended there; the next one finds the copy.
    const QList<DashClip> listed = open()->clips(MediaCacheScope::all());
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed.first().name, copied.name);
    EXPECT_TRUE(listed.first().cachedChannels.contains(Channel::front));

    release.release();
    abandoned.join();
    cache.reset();
}

} // namespace
