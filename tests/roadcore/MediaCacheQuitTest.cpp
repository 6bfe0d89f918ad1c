// The quit's fold of the journal is the cache's last write, whatever the quit abandoned.
#include "MediaCacheFixture.h"

#include <QFile>

namespace {

using namespace TestSupport;

using MediaCacheQuitTest = MediaCacheFixture;

// Work the quit abandoned reaches the cache after the fold: a copy, an import, removals. Nothing is written.
TEST_F(MediaCacheQuitTest, NothingIsWrittenAfterTheQuitsFold)
{
    const DashClip copied = add("copied", {{Channel::front, "front of copied"}});
    add("waiting", {{Channel::front, "front of waiting"}});
    QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(jobs.size(), 2);
    ASSERT_TRUE(cache->perform(jobs.takeAt(jobs.first().key == copied.catalogKey() ? 0 : 1)).ok());
    ASSERT_EQ(cache->foldJournalForQuit(QDeadlineTimer(0)), MediaCache::QuitFold::written);
    ASSERT_FALSE(QFile::exists(root + "/catalog.journal"));
    const QByteArray folded = readFile(root + "/catalog.json");
    const QStringList stored = storedFiles();

    EXPECT_FALSE(cache->perform(jobs.first()).ok());
    add("late", {{Channel::front, "front of late"}});
    EXPECT_FALSE(cache->remove(copied.catalogKey(), true));
    EXPECT_FALSE(cache->clear(false));
    cache->writeUnsaved();
    EXPECT_EQ(readFile(root + "/catalog.json"), folded);
    EXPECT_FALSE(QFile::exists(root + "/catalog.journal"));
    EXPECT_EQ(storedFiles(), stored);
}

} // namespace
