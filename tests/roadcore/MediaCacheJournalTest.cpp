// The journal of copies and the catalog file as they are found on disk after copies of the cache folder,
// crashes, restores and other programs: no copy is forgotten, and no stored file is deleted on the strength
// of a catalog that may lack records.
#include "MediaCacheFixture.h"

#include <QFile>
#include <QFileInfo>

#include <cstdlib>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace TestSupport;

class MediaCacheJournalTest : public MediaCacheFixture {
protected:
    // Registers `count` recordings of two channels and copies them: the copies are in the journal alone.
    QList<DashClip> journaled(int count, const QString &prefix = "rec")
    {
        QList<DashClip> clips;
        for (int i = 0; i < count; ++i) {
            const QByteArray tag = (prefix + QString::number(i)).toUtf8();
            clips.append(add(QString::fromUtf8(tag),
                             {{Channel::front, "front of " + tag}, {Channel::rear, "rear of " + tag}}));
        }
        cacheAll();
        EXPECT_TRUE(QFile::exists(root + "/catalog.journal"));
        return clips;
    }

    QStringList setAside(const QString &pattern) const
    {
        return QDir(root).entryList({pattern}, QDir::Files | QDir::Hidden);
    }

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

    int cachedChannels()
    {
        int count = 0;
        for (const DashClip &clip : cache->clips(MediaCacheScope::all()))
            count += int(clip.cachedChannels.size());
        return count;
    }
};

TEST_F(MediaCacheJournalTest, AFolderCopiedToNewInodesKeepsEveryCopy)
{
    journaled(3);
    cache.reset(); // killed, or quit by a version that left the journal
    const QString restored = tmp.filePath("restored");
    ASSERT_EQ(std::system(qPrintable(QString("cp -a '%1' '%2'").arg(root, restored))), 0);
    struct stat from {
    }, to{};
    ASSERT_EQ(::stat(QFile::encodeName(root + "/catalog.json").constData(), &from), 0);
    ASSERT_EQ(::stat(QFile::encodeName(restored + "/catalog.json").constData(), &to), 0);
    ASSERT_NE(from.st_ino, to.st_ino);
    ASSERT_EQ(from.st_mtim.tv_sec, to.st_mtim.tv_sec);
    root = restored;
    QDir(card).removeRecursively(); // the card is away
    const QStringList before = storedFiles();
    ASSERT_EQ(before.size(), 6);

    cache = open();
    EXPECT_EQ(cache->usage()->cachedFiles, 6);
    EXPECT_EQ(cachedChannels(), 6);
    cache->clear(true);
    cache->remove("unknown#0", false);
    EXPECT_EQ(storedFiles(), before);
    EXPECT_EQ(cachedChannels(), 6);
}

TEST_F(MediaCacheJournalTest, AStaleJournalLeftByACrashAddsNoCopyThatIsNoLongerStored)
{
    const QList<DashClip> clips = journaled(2);
    const QByteArray journal = readFile(root + "/catalog.journal");
    cache->remove(clips[0].catalogKey(), false); // deletes its copies; the whole catalog is written
    ASSERT_FALSE(QFile::exists(root + "/catalog.journal"));
    // The crash came between the catalog's rewrite and the journal's removal.
    writeFile(root + "/catalog.journal", journal);
    cache.reset();
    const QStringList before = storedFiles();
    ASSERT_EQ(before.size(), 2);

    cache = open();
    EXPECT_TRUE(isPending(clips[0].catalogKey()));
    EXPECT_FALSE(isPending(clips[1].catalogKey()));
    EXPECT_FALSE(record(clips[0], Channel::front).storedPath);
    EXPECT_FALSE(record(clips[0], Channel::rear).storedPath);
    EXPECT_EQ(cachedChannels(), 2);
    EXPECT_EQ(storedFiles(), before);
    // Nothing in it was worth keeping.
    EXPECT_FALSE(QFile::exists(root + "/catalog.journal"));
    EXPECT_EQ(setAside("catalog.journal.*"), QStringList{});
}

TEST_F(MediaCacheJournalTest, AJournalThatCannotBeAppliedKeepsTheStoredFilesItNamesThroughEverySweep)
{
    const QList<DashClip> old = journaled(1, "old");
    cache->foldJournal();
    const QByteArray olderCatalog = readFile(root + "/catalog.json");
    const QStringList oldCopies{record(old[0], Channel::front).storedPath->mid(6),
                                record(old[0], Channel::rear).storedPath->mid(6)};
    journaled(2, "new");
    cache.reset();
    // The catalog came back from a backup older than the journal: it knows no "new" recording.
    writeFile(root + "/catalog.json", olderCatalog);
    const QStringList before = storedFiles();
    ASSERT_EQ(before.size(), 6);
    // A file that neither names goes all the same.
    writeFile(root + "/Files/zz/stray.mp4", "stray");

    cache = open();
    EXPECT_EQ(cache->usage()->recordings, 1);
    EXPECT_EQ(setAside("catalog.journal.unapplied-*").size(), 1);
    // The copies the catalog names and lets go of are deleted; those only the journal named stay.
    cache->clear(true);
    QStringList expected = before;
    for (const QString &copy : oldCopies)
        expected.removeOne(copy);
    EXPECT_EQ(storedFiles(), expected);
    // So it stays in later runs, as long as the journal is kept aside.
    cache = open();
    cache->clear(true);
    cache->remove("unknown#0", true);
    EXPECT_EQ(storedFiles(), expected);
}

TEST_F(MediaCacheJournalTest, ACatalogCutShortWhileReadIsUnreadableAndDeletesNoStoredFile)
{
    journaled(3);
    cache->foldJournal();
    cache.reset();
    const QStringList before = storedFiles();
    ASSERT_EQ(before.size(), 6);
    const QByteArray catalogBytes = readFile(root + "/catalog.json");
    ASSERT_GT(catalogBytes.size(), 1024);

    // Another program cuts the catalog short while the first piece is being read.
    CatalogLoader::Options reading;
    reading.pieceBytes = 512;
    bool cut = false;
    reading.afterPiece = [&](qint64) {
        if (!std::exchange(cut, true)) {
            EXPECT_EQ(::truncate(QFile::encodeName(root + "/catalog.json").constData(), 700), 0);
        }
    };
    cache = std::make_unique<MediaCache>(
        root, [] { return QList<MountEntry>{}; }, reading);
    EXPECT_EQ(cache->usage()->recordings, 0);
    EXPECT_TRUE(cut);
    cache->clear(true);
    EXPECT_EQ(storedFiles(), before);
    // The cut catalog was kept aside, whole as far as it went.
    const QStringList kept = setAside("catalog.json.unreadable-*");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readFile(root + "/" + kept.first()), catalogBytes.left(700));
    cache = open();
    cache->remove("unknown#0", false);
    EXPECT_EQ(storedFiles(), before);
}

TEST_F(MediaCacheJournalTest, ACopyWhoseJournalLineWasDestroyedIsRecordedAgainAndNoSweepDeletesIt)
{
    const struct {
        const char *what;
        std::function<void(QByteArray &)> spoil; // the sixth line
    } cases[] = {
        // Two writers: one wrote half its line, the other a whole line after it.
        {"cut short", [](QByteArray &line) { line = line.left(line.size() / 2) + "{\"key\":\"x\"}"; }},
        {"zeroed", [](QByteArray &line) { line.fill('\0'); }},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        root = tmp.filePath(QString("cache %1").arg(++n));
        card = tmp.filePath(QString("card %1").arg(n));
        cache = open();
        const QList<DashClip> clips = journaled(7);
        cache.reset();
        QList<QByteArray> lines = readFile(root + "/catalog.journal").split('\n');
        ASSERT_EQ(lines.size(), 15); // 14 lines and what follows the last line feed
        c.spoil(lines[5]);
        writeFile(root + "/catalog.journal", lines.join('\n'));
        ASSERT_TRUE(QDir().rename(card, card + " away"));
        const QStringList before = storedFiles();
        ASSERT_EQ(before.size(), 14);

        // The copy whose line was destroyed has no proof of its recording while the card is away: it is
        // kept for none.
        cache = open();
        EXPECT_EQ(cachedChannels(), 13);
        cache->clear(true);
        cache->removeReplaceableCopies(clips[0].catalogKey());
        // The journal set aside names the forgotten recording's copies too: they stay while it is kept.
        cache->remove(clips[1].catalogKey(), true);
        EXPECT_EQ(storedFiles(), before);
        EXPECT_EQ(cachedChannels(), 11);

        // With the card back, the copy is made again from the file already stored: no new file.
        ASSERT_TRUE(QDir().rename(card + " away", card));
        ASSERT_EQ(cache->pendingJobs(CachePolicy::all).size(), 1u);
        cacheAll();
        EXPECT_EQ(storedFiles(), before);
        EXPECT_EQ(cachedChannels(), 12);
    }
}

TEST_F(MediaCacheJournalTest, WhatIsSetAsideSparesOnlyTheStoredFilesItMayNameUntilAnExplicitClearOfAll)
{
    const QList<DashClip> clips = journaled(3);
    cache->foldJournal();
    const CatalogEntry::File named = record(clips[0], Channel::front);
    const QString garbled = *record(clips[1], Channel::front).storedPath;
    cache.reset();
    // An earlier run set aside a journal: a record of one copy, and a garbled line that names another.
    QByteArray escaped = garbled.toUtf8();
    escaped.replace("/", "\\/");
    writeFile(root + "/catalog.journal.unapplied-20240501T080000Z",
              CatalogJournal::line({clips[0].catalogKey(), "F", *named.fingerprint, *named.storedPath}) +
                  "{\"key\":\"rec1#\x01\",\"storedPath\":\"" + escaped + "\"}\n");
    writeFile(root + "/Files/zz/stray.mp4", "stray");
    QStringList spared{named.storedPath->mid(6), garbled.mid(6)};
    spared.sort();

    // Their recordings moved to the Trash: what the journal set aside names stays, the rest goes.
    cache = open();
    ASSERT_TRUE(cache->remove(clips[0].catalogKey(), true));
    ASSERT_TRUE(cache->remove(clips[1].catalogKey(), true));
    ASSERT_TRUE(cache->clear(true));
    EXPECT_EQ(storedFiles(), spared);

    // A catalog kept aside as unreadable may name any file: only the copies a clear lets go of go then.
    writeFile(root + "/catalog.json.unreadable-20240501T080000Z", "[{\"key\":");
    cache = open();
    cacheAll();
    writeFile(root + "/Files/zz/stray.mp4", "stray");
    ASSERT_EQ(storedFiles().size(), 5);
    ASSERT_TRUE(cache->clear(true));
    EXPECT_EQ(storedFiles(), spared + QStringList{"zz/stray.mp4"});

    // Files no record names take room all the same; clearing everything deletes them, their empty folders
    // and the journal set aside; only the catalog set aside stays, which may name recordings of the library.
    EXPECT_EQ(cache->usage()->cachedFiles, 3);
    ASSERT_EQ(setAside("catalog.*-*").size(), 2);
    ASSERT_TRUE(cache->clear(false));
    EXPECT_EQ(storedFiles(), QStringList{});
    EXPECT_EQ(QDir(root + "/Files").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{});
    EXPECT_EQ(cache->usage()->cachedFiles, 0);
    EXPECT_EQ(setAside("catalog.*-*"), QStringList{"catalog.json.unreadable-20240501T080000Z"});
}

TEST_F(MediaCacheJournalTest, ACatalogThatCannotBeReadNowLeavesEveryFileAsItWasUntilItCan)
{
    const struct Seam {
        const char *what;
        const char *file; // replaced for a while
        bool byLink;      // by a link to a file whose reads fail, else by a folder
    } seams[] = {
        {"the catalog replaced by a folder", "catalog.json", false},
        {"the catalog's reads failing", "catalog.json", true},
        {"the journal replaced by a folder", "catalog.journal", false},
        {"the journal's reads failing", "catalog.journal", true},
    };
    int n = 0;
    for (const Seam &seam : seams) {
        SCOPED_TRACE(seam.what);
        root = tmp.filePath(QString("cache %1").arg(++n));
        card = tmp.filePath(QString("card %1").arg(n));
        cache = open();
        const QList<DashClip> clips = journaled(2);
        cache->foldJournal();
        journaled(1, "more"); // two copies recorded in the journal alone
        cache.reset();
        writeFile(root + "/Files/zz/stray.mp4", "stray");
        const std::map<QString, QByteArray> before = everyFile();
        const QString path = root + "/" + seam.file, held = tmp.filePath(QString("held %1").arg(n));
        ASSERT_TRUE(QFile::rename(path, held));
        ASSERT_TRUE(seam.byLink ? QFile::link("/proc/self/mem", path) : QDir().mkdir(path));

        cache = open();
        const QString key = clips[0].catalogKey();
        EXPECT_FALSE(cache->usage());
        EXPECT_TRUE(cache->clips(MediaCacheScope::all()).isEmpty());
        EXPECT_TRUE(cache->pendingJobs(CachePolicy::all).isEmpty());
        EXPECT_EQ(cache->isCatalogued(key), MediaCache::CatalogAnswer::unreadable);
        EXPECT_EQ(cache->resolveForPlayback(clips[0]), clips[0]);
        const DashClip fresh = add("fresh", {{Channel::front, "fresh front"}});
        const DashClip registered = cache->registerClips({fresh}).value(0);
        EXPECT_EQ(registered.files, fresh.files);
        EXPECT_EQ(registered.channelStates.at(Channel::front), StorageState::original);
        const QString source = fresh.files.at(Channel::front);
        EXPECT_FALSE(cache->perform({fresh.catalogKey(), Channel::front, source, 11, "fresh_F.mp4"}).ok());
        EXPECT_FALSE(cache->clear(false));
        EXPECT_FALSE(cache->clear(true));
        EXPECT_FALSE(cache->remove(key, true));
        EXPECT_FALSE(cache->remove(key, false));
        EXPECT_FALSE(cache->removeReplaceableCopies(key));
        EXPECT_FALSE(cache->takeSetAsideCatalog());
        cache->foldJournal();

        ASSERT_TRUE(seam.byLink ? QFile::remove(path) : QDir().rmdir(path));
        ASSERT_TRUE(QFile::rename(held, path));
        EXPECT_TRUE(everyFile() == before);
        // The same cache works once the file reads again.
        const std::optional<MediaCache::Usage> usage = cache->usage();
        ASSERT_TRUE(usage);
        EXPECT_EQ(usage->cachedFiles, 7); // the stray one too
        EXPECT_EQ(usage->recordings, 3);
        EXPECT_EQ(cache->clips(MediaCacheScope::all()).size(), 3);
        EXPECT_EQ(cache->isCatalogued(key), MediaCache::CatalogAnswer::catalogued);
        EXPECT_EQ(cache->isCatalogued("never#1"), MediaCache::CatalogAnswer::notCatalogued);
        EXPECT_TRUE(cache->clear(false));
        EXPECT_EQ(storedFiles(), QStringList{});
    }
}

TEST_F(MediaCacheJournalTest, ACopyWhoseRecordCannotBeWrittenIsReportedKeptAndRecordedOnceItCan)
{
    const QList<DashClip> clips{add("a", {{Channel::front, "front of a"}, {Channel::rear, "rear of a"}}),
                                add("b", {{Channel::front, "front of b"}, {Channel::rear, "rear of b"}})};
    auto lock = std::make_unique<FolderLock>(root);
    if (!lock->locked())
        GTEST_SKIP() << "the cache folder cannot be made unwritable here";
    const QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(jobs.size(), 4);
    for (const CacheJob &job : jobs) {
        const Result<void> done = cache->perform(job);
        ASSERT_FALSE(done.ok());
        EXPECT_TRUE(done.error().contains("couldn't be recorded")) << done.error().toStdString();
    }
    const QStringList stored = storedFiles();
    ASSERT_EQ(stored.size(), 4);
    // Not planned again, since the next save that succeeds records them; every later change and the quit
    // say they did not reach the disk. One that changes nothing has nothing to write.
    EXPECT_TRUE(cache->pendingJobs(CachePolicy::all).isEmpty());
    EXPECT_EQ(cache->writeUnsaved(), MediaCacheWrite::failed);
    EXPECT_TRUE(cache->remove("unknown#0", false));
    EXPECT_FALSE(cache->remove(clips[0].catalogKey(), true));
    EXPECT_FALSE(cache->foldJournal());
    EXPECT_EQ(storedFiles(), stored);

    // The program ends without a record of them. In a copy's place, a file of a catalogued name and size
    // whose content is another's.
    cache.reset();
    lock->unlock();
    const QString impostor = root + "/Files/" + stored.filter("a_F").first().section('/', 0, 1) + "/b_F.mp4";
    writeFile(impostor, "front of c");
    for (const auto &[key, entry] : catalog())
        for (const auto &[letter, file] : entry.files)
            EXPECT_FALSE(file.storedPath);
    cache = open();
    EXPECT_EQ(cache->usage()->cachedFiles, 5);
    for (const auto &[key, entry] : catalog())
        for (const auto &[letter, file] : entry.files)
            EXPECT_TRUE(file.storedPath) << key.toStdString();
    EXPECT_TRUE(cache->pendingJobs(CachePolicy::all).isEmpty());
    EXPECT_TRUE(cache->remove("unknown#0", false));
    EXPECT_EQ(storedFiles(), stored);

    // A copy refused while the folder is locked is written by the next write once it is not.
    const DashClip c = add("c", {{Channel::front, "front of c"}});
    lock.reset();
    lock = std::make_unique<FolderLock>(root);
    ASSERT_TRUE(lock->locked());
    ASSERT_EQ(cache->pendingJobs(CachePolicy::all).size(), 1);
    EXPECT_FALSE(cache->perform(cache->pendingJobs(CachePolicy::all).first()).ok());
    lock->unlock();
    EXPECT_EQ(cache->writeUnsaved(), MediaCacheWrite::written);
    EXPECT_TRUE(record(c, Channel::front).storedPath);
    EXPECT_EQ(cache->writeUnsaved(), MediaCacheWrite::nothingUnsaved);
    EXPECT_TRUE(cache->foldJournal());
}

TEST_F(MediaCacheJournalTest, AnUnreadableCatalogThatCannotBeKeptIsToldOnceAndNothingIsCopied)
{
    const DashClip a = add("a", {{Channel::front, "front of a"}});
    cache.reset();
    writeFile(root + "/catalog.json", "[{\"key\":");
    auto lock = std::make_unique<FolderLock>(root);
    if (!lock->locked())
        GTEST_SKIP() << "the cache folder cannot be made unwritable here";

    cache = open();
    EXPECT_EQ(cache->takeSetAsideCatalog(), QString());
    EXPECT_EQ(cache->takeSetAsideCatalog(), std::nullopt);
    cache->registerClips({a});
    // The catalog in place may name any recording: none is known not to be catalogued.
    EXPECT_EQ(cache->isCatalogued("never#1"), MediaCache::CatalogAnswer::unreadable);
    // Nothing is planned, so no copy is reported one by one; a copy asked for all the same is refused.
    EXPECT_TRUE(cache->pendingJobs(CachePolicy::all).isEmpty());
    const CacheJob job{a.catalogKey(), Channel::front, a.files.at(Channel::front), 10, "a_F.mp4"};
    const Result<void> done = cache->perform(job);
    ASSERT_FALSE(done.ok());
    EXPECT_TRUE(done.error().contains("couldn't be recorded")) << done.error().toStdString();
    EXPECT_EQ(storedFiles(), QStringList{});
    EXPECT_EQ(cache->takeSetAsideCatalog(), std::nullopt);
    EXPECT_EQ(readFile(root + "/catalog.json"), "[{\"key\":");

    // Once the folder takes changes again, the file is kept aside and the user told where.
    lock->unlock();
    const QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(jobs, QList<CacheJob>{job});
    EXPECT_EQ(cache->isCatalogued("never#1"), MediaCache::CatalogAnswer::notCatalogued);
    EXPECT_TRUE(cache->perform(jobs.first()).ok());
    EXPECT_EQ(setAside("catalog.json.unreadable-*").size(), 1);
    EXPECT_TRUE(cache->takeSetAsideCatalog());
    EXPECT_TRUE(record(a, Channel::front).storedPath);
}

} // namespace
