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
    EXPECT_TRUE(cache->isPending(clips[0].catalogKey()));
    EXPECT_FALSE(cache->isPending(clips[1].catalogKey()));
    EXPECT_FALSE(record(clips[0], Channel::front).storedPath);
    EXPECT_FALSE(record(clips[0], Channel::rear).storedPath);
    EXPECT_EQ(cachedChannels(), 2);
    EXPECT_EQ(storedFiles(), before);
    // Nothing in it was worth keeping.
    EXPECT_FALSE(QFile::exists(root + "/catalog.journal"));
    EXPECT_EQ(setAside("catalog.journal.*"), QStringList{});
}

TEST_F(MediaCacheJournalTest, AJournalThatCannotBeAppliedKeepsTheStoredFilesItNamesThroughEveryClear)
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
    cache->clear(false);
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
    cache->clear(false);
    EXPECT_EQ(storedFiles(), before);
    // The cut catalog was kept aside, whole as far as it went.
    const QStringList kept = setAside("catalog.json.unreadable-*");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readFile(root + "/" + kept.first()), catalogBytes.left(700));
    cache = open();
    cache->clear(false);
    EXPECT_EQ(storedFiles(), before);
}

TEST_F(MediaCacheJournalTest, AGarbledLineInTheMiddleOfTheJournalHidesNoCopyAfterIt)
{
    const QList<DashClip> clips = journaled(7);
    cache.reset();
    QList<QByteArray> lines = readFile(root + "/catalog.journal").split('\n');
    ASSERT_EQ(lines.size(), 15); // 14 lines and what follows the last line feed
    // Two writers: one wrote half its line, the other a whole line after it.
    lines[5] = lines[5].left(lines[5].size() / 2) + lines[4];
    writeFile(root + "/catalog.journal", lines.join('\n'));
    ASSERT_TRUE(QDir().rename(card, card + " away"));
    const QStringList before = storedFiles();
    ASSERT_EQ(before.size(), 14);

    cache = open();
    // One channel lacks its record; every other copy plays.
    EXPECT_EQ(cachedChannels(), 13);
    int missing = 0;
    for (const DashClip &clip : cache->clips(MediaCacheScope::all()))
        for (const auto &[channel, state] : clip.channelStates)
            missing += state == StorageState::missing;
    EXPECT_EQ(missing, 1);
    cache->clear(true);
    EXPECT_EQ(storedFiles(), before);

    // With the card back, only that one file is copied again.
    ASSERT_TRUE(QDir().rename(card + " away", card));
    EXPECT_EQ(cache->pendingJobs(CachePolicy::all).size(), 1);
    cacheAll();
    EXPECT_EQ(cachedChannels(), 14);
    EXPECT_EQ(storedFiles(), before);
}

TEST_F(MediaCacheJournalTest, WhatIsSetAsideSparesOnlyTheStoredFilesItMayName)
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

    cache = open();
    ASSERT_TRUE(cache->clear(false));
    EXPECT_EQ(storedFiles(), spared);

    // A catalog kept aside as unreadable may name any file: only the copies a clear lets go of go then.
    writeFile(root + "/catalog.json.unreadable-20240501T080000Z", "[{\"key\":");
    cache = open();
    cacheAll();
    writeFile(root + "/Files/zz/stray.mp4", "stray");
    ASSERT_EQ(storedFiles().size(), 7);
    ASSERT_TRUE(cache->clear(false));
    EXPECT_EQ(storedFiles(), spared + QStringList{"zz/stray.mp4"});
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
        EXPECT_FALSE(cache->isPending(key));
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
        EXPECT_EQ(usage->cachedFiles, 6);
        EXPECT_EQ(usage->recordings, 3);
        EXPECT_EQ(cache->clips(MediaCacheScope::all()).size(), 3);
        EXPECT_EQ(cache->isCatalogued(key), MediaCache::CatalogAnswer::catalogued);
        EXPECT_EQ(cache->isCatalogued("never#1"), MediaCache::CatalogAnswer::notCatalogued);
        EXPECT_TRUE(cache->clear(false));
        EXPECT_EQ(storedFiles(), QStringList{});
    }
}

} // namespace
