#include "MediaCacheFixture.h"

#include <QFile>
#include <QObject>
#include <QThread>

#include <functional>

#include <sys/file.h>

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
        EXPECT_EQ(cache->usage()->cachedFiles, row.filesLeft);
        if (!row.cardPresent) {
            ASSERT_TRUE(QDir().rename(card + " away", card));
        }
    }
}

// A change is done whole or not at all: while the catalog cannot be written, or a stored file whose record
// it drops cannot be deleted (left without its record, the file would be given back at the next opening),
// it is refused with its cause and changes no file and no record, also as the cache opens again. A forgotten
// recording has no record to take its file back: that file stays for a later sweep.
TEST_F(MediaCacheMaintenanceTest, AChangeTheCatalogCannotTakeChangesNoFileAndNoRecord)
{
    const struct {
        const char *what;
        std::function<Result<void>(MediaCache &, const QString &key)> change;
        bool forgets = false;
    } changes[] = {
        {"Remove Cached Copy",
         [](MediaCache &c, const QString &key) { return c.removeReplaceableCopies(key); }},
        {"removing the copies", [](MediaCache &c, const QString &key) { return c.remove(key, false); }},
        {"Move to Trash", [](MediaCache &c, const QString &key) { return c.remove(key, true); }, true},
        {"Remove Copies of Available Originals",
         [](MediaCache &c, const QString &) { return c.clear(true); }},
        {"Clear Entire Cache", [](MediaCache &c, const QString &) { return c.clear(false); }},
    };
    const struct {
        const char *what;
        bool catalog; // else the folder of a copy the change drops
        QString cause;
    } places[] = {
        {"the catalog's folder", true, "the media cache's catalog couldn't be written"},
        {"a copy's folder", false, "a stored file couldn't be deleted: "},
    };
    int n = 0;
    for (const auto &place : places)
        for (const auto &change : changes) {
            SCOPED_TRACE(testing::Message() << change.what << " with " << place.what << " locked");
            root = tmp.filePath(QString("cache %1").arg(++n));
            card = tmp.filePath(QString("card %1").arg(n));
            cache = open();
            const DashClip a = add("a", {{Channel::front, pattern(100)}, {Channel::rear, pattern(200)}});
            add("b", {{Channel::front, pattern(300)}});
            cacheAll();
            FolderLock lock(place.catalog
                                ? root
                                : root + "/" + record(a, Channel::front).storedPath->section('/', 0, -2));
            if (!lock.locked())
                GTEST_SKIP() << "a folder cannot be made unwritable here";
            const QStringList stored = storedFiles();
            const CatalogEntry::Catalog recorded = catalog();
            const QList<DashClip> listed = cache->clips(MediaCacheScope::all());

            const Result<void> done = change.change(*cache, a.catalogKey());
            if (change.forgets && !place.catalog) {
                EXPECT_TRUE(done);
                EXPECT_EQ(storedFiles().size(), 2);
                EXPECT_EQ(open()->clips(MediaCacheScope::all()), cache->clips(MediaCacheScope::all()));
                lock.unlock();
                EXPECT_TRUE(cache->remove("unknown#0", false)); // a later sweep
                EXPECT_EQ(storedFiles().size(), 1);
            } else {
                ASSERT_FALSE(done);
                EXPECT_TRUE(done.failure().cause.startsWith(place.cause)) << done.error().toStdString();
                EXPECT_EQ(storedFiles(), stored);
                EXPECT_EQ(catalog(), recorded);
                EXPECT_EQ(cache->clips(MediaCacheScope::all()), listed);
                EXPECT_EQ(open()->clips(MediaCacheScope::all()), listed);
                // Nothing of it is left in memory for a later save.
                lock.unlock();
                EXPECT_EQ(cache->writeUnsaved(), MediaCacheWrite::nothingUnsaved);
                EXPECT_TRUE(cache->foldJournal());
                EXPECT_EQ(catalog(), recorded);
                EXPECT_TRUE(change.change(*cache, a.catalogKey()));
            }
            // Done, it stays done.
            EXPECT_NE(storedFiles(), stored);
            EXPECT_EQ(open()->clips(MediaCacheScope::all()), cache->clips(MediaCacheScope::all()));
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
    EXPECT_TRUE(isPending(x.catalogKey()));
    EXPECT_TRUE(QFile::exists(root + "/" + shared)); // y still names it

    cache->remove(y.catalogKey(), true);
    EXPECT_FALSE(catalog().count(y.catalogKey()));
    EXPECT_EQ(storedFiles(), QStringList{});
    EXPECT_EQ(cache->usage(), (MediaCache::Usage{0, 0, 1}));

    // An unknown key still prunes. It changes no record: the catalog file is not written, and while it
    // cannot be, nothing is left unsaved.
    writeFile(root + "/Files/ab/stray.mp4", "stray");
    const QString catalogFile = root + "/catalog.json";
    const QByteArray bytes = readFile(catalogFile);
    const QDateTime longAgo(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    {
        QFile file(catalogFile);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                    file.setFileTime(longAgo, QFile::FileModificationTime));
    }
    EXPECT_TRUE(cache->remove("unknown#0", true));
    EXPECT_EQ(storedFiles(), QStringList{});
    EXPECT_EQ(readFile(catalogFile), bytes);
    EXPECT_EQ(QFileInfo(catalogFile).lastModified().toUTC(), longAgo);
    FolderLock lock(root);
    EXPECT_TRUE(cache->remove("unknown#0", false));
    lock.unlock();
    EXPECT_EQ(cache->writeUnsaved(), MediaCacheWrite::nothingUnsaved);
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
        auto &rear = edited.at(kept.catalogKey()).files.at("R").storedPath;
        const QString rearCopy = *rear;
        rear = QString(rearCopy).replace("Files/", "Files//");
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

// Copies cut off by the end of an earlier run leave their temporary files; the next cache to open removes
// them, and only them: nothing else under "Files", nothing a link points at, no copy another instance is
// still making.
TEST_F(MediaCacheMaintenanceTest, OpeningRemovesTheTemporaryFilesOfCutOffCopies)
{
    add("A", {{Channel::front, "front of A"}});
    cacheAll();
    cache->foldJournal(); // the opening below has no journal to fold in and writes nothing
    const QStringList stored = storedFiles();
    ASSERT_EQ(stored.size(), 1);
    const QString folder = root + "/Files/" + stored.first().section('/', 0, -2);
    const QString uuid = "0F8A1C2E-3B4D-4E5F-8A9B-0C1D2E3F4A5B";
    const QStringList abandoned = {folder + "/.partial-" + uuid, root + "/Files/ab/abcd/.partial-" + uuid,
                                   folder + "/.partial-9E3C1D2B-0000-4000-8000-123456789ABC"};
    for (const QString &path : abandoned)
        writeFile(path, QByteArray(4096, 'p'));
    const QString outside = tmp.filePath("outside.bin");
    writeFile(outside, "kept");
    const QStringList kept = {
        folder + "/.partial-0f8a1c2e-3b4d-4e5f-8a9b-0c1d2e3f4a5b", // not the case our copies use
        folder + "/.partial-" + uuid + ".mp4", folder + "/partial-" + uuid, folder + "/.partial-x",
        root + "/Files/ab/notes.txt"};
    for (const QString &path : kept)
        writeFile(path, "not ours");
    const QString link = root + "/Files/ab/.partial-11111111-2222-4333-8444-555555555555";
    ASSERT_TRUE(QFile::link(outside, link));
    const QString folderNamed = root + "/Files/cd/.partial-22222222-2222-4333-8444-555555555555";
    ASSERT_TRUE(QDir().mkpath(folderNamed));
    // Being written by another instance, which holds its lock.
    const QString live = root + "/Files/cd/.partial-33333333-2222-4333-8444-555555555555";
    writeFile(live, "half a copy");
    QFile held(live);
    ASSERT_TRUE(held.open(QIODevice::ReadOnly));
    ASSERT_EQ(::flock(held.handle(), LOCK_EX | LOCK_NB), 0);
    const QByteArray catalogBefore = readFile(root + "/catalog.json");
    const QByteArray copyBefore = readFile(root + "/Files/" + stored.first());

    cache = open();
    // The copy and the files that are not ours: every file there takes room.
    EXPECT_EQ(cache->usage()->cachedFiles, 1 + kept.size());
    for (const QString &path : abandoned)
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    for (const QString &path : kept)
        EXPECT_EQ(readFile(path), "not ours") << path.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(outside), "kept");
    EXPECT_TRUE(QFileInfo(folderNamed).isDir());
    EXPECT_EQ(readFile(live), "half a copy");
    EXPECT_EQ(readFile(root + "/catalog.json"), catalogBefore);
    EXPECT_EQ(readFile(root + "/Files/" + stored.first()), copyBefore);

    // Once that instance has ended, the next opening removes its file too.
    held.close();
    cache = open();
    cache->usage();
    EXPECT_FALSE(QFileInfo::exists(live));
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

    EXPECT_FALSE(isPending(done.catalogKey()));
    EXPECT_TRUE(isPending(half.catalogKey()));
    EXPECT_FALSE(isPending(none.catalogKey()));
    EXPECT_FALSE(isPending("unknown#1"));
}

TEST_F(MediaCacheMaintenanceTest, MaintenanceCallsSeeTheChangesOfTheOnesBefore)
{
    const DashClip clip = add("a", {{Channel::front, pattern(100)}});
    const QList<CacheJob> planned = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(planned.size(), 1);
    ASSERT_TRUE(cache->perform(planned[0]).ok());
    EXPECT_TRUE(cache->remove(clip.catalogKey(), false));
    EXPECT_EQ(cache->usage(), (MediaCache::Usage{0, 0, 1}));
    EXPECT_TRUE(isPending(clip.catalogKey()));
    EXPECT_TRUE(cache->clear(false));
    EXPECT_EQ(cache->usage(), (MediaCache::Usage{0, 0, 1}));
}

} // namespace
