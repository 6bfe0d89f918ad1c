#include "roadcore/MediaCache.h"
#include "MediaCacheFixture.h"

#include "platform/StandardFolders.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;
using S = StorageState;

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// A recording whose channel files are written into `folder` with the given sizes.
DashClip recording(const QString &folder, const QString &name, std::map<Channel, int> sizes,
                   std::optional<QDateTime> date = utc(2024, 5, 1, 8, 30),
                   ClipCategory category = ClipCategory::continuous)
{
    DashClip clip;
    clip.name = name;
    clip.id = folder + "/" + name;
    clip.category = category;
    clip.date = date;
    for (const auto &[channel, size] : sizes) {
        const QString path = folder + "/" + name + "_" + rawValue(channel) + ".mp4";
        writeFile(path, QByteArray(size, char('a' + int(channel))));
        clip.files[channel] = path;
        clip.byteSize += size;
    }
    return clip;
}

// A recording that names files without making them.
DashClip named(const QString &name, std::map<Channel, QString> files, std::optional<QDateTime> date = {})
{
    DashClip clip;
    clip.name = name;
    clip.id = name;
    clip.date = date;
    clip.files = std::move(files);
    return clip;
}

CatalogEntry::Catalog catalogAt(const QString &root)
{
    return catalogOnDisk(root).value_or(CatalogEntry::Catalog{});
}

// Gives a record a stored copy, as a finished copy would, by editing the catalog of a closed cache.
void addStoredCopy(const QString &root, const QString &key, Channel channel, const QString &storedPath,
                   const QByteArray &content = "stored")
{
    auto catalog = catalogAt(root);
    ASSERT_TRUE(catalog.count(key));
    catalog.at(key).files.at(rawValue(channel)).storedPath = storedPath;
    writeFile(root + "/catalog.json", CatalogEntry::writeCatalog(catalog));
    if (storedPath.startsWith("Files/"))
        writeFile(root + "/" + storedPath, content);
}

std::map<Channel, S> states(std::initializer_list<std::pair<const Channel, S>> list)
{
    return list;
}

quint64 deviceOf(const QString &path)
{
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    return quint64(st.st_dev);
}

class MediaCacheTest : public testing::Test {
protected:
    QTemporaryDir tmp;
    QString root = tmp.filePath("Roadloom/Media Cache");
    QString card = tmp.filePath("CARD");
    // The mounted volumes the cache sees; the system's unless a test sets them.
    std::shared_ptr<std::optional<QList<MountEntry>>> table =
        std::make_shared<std::optional<QList<MountEntry>>>();

    std::shared_ptr<int> mountReads = std::make_shared<int>(0);

    std::unique_ptr<MediaCache> open()
    {
        auto source = [table = table, reads = mountReads] {
            ++*reads;
            return table->value_or(MountTable::current());
        };
        return std::make_unique<MediaCache>(root, source);
    }
    void mountCardAt(const QString &mountPoint)
    {
        *table = QList<MountEntry>{{mountPoint, "/", "/dev/sdz1", "vfat", deviceOf(tmp.path()), "1234-ABCD"}};
    }
};

TEST_F(MediaCacheTest, RegisteringAgainKeepsTheFirstImportAndRefreshesTheRest)
{
    mountCardAt(card);
    auto cache = open();
    EXPECT_TRUE(QFileInfo(root + "/Files").isDir());
    EXPECT_TRUE(cache->registerClips({}).isEmpty());
    EXPECT_TRUE(QFile::exists(root + "/catalog.json")); // saved even when empty

    DashClip clip =
        recording(card + "/cont_rec", "20240501_083000", {{Channel::front, 300}, {Channel::rear, 200}});
    const auto first = cache->registerClips({clip});
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first[0].originalFiles, clip.files);
    EXPECT_EQ(first[0].channelStates, states({{Channel::front, S::original}, {Channel::rear, S::original}}));
    EXPECT_TRUE(first[0].cachedChannels.empty());
    EXPECT_EQ(first[0].id, clip.id);
    const CatalogEntry before = catalogAt(root).at(clip.catalogKey());
    EXPECT_EQ(before.files.at("F").importedPath, clip.files[Channel::front]);
    ASSERT_TRUE(before.files.at("F").bookmark);
    ASSERT_TRUE(before.files.at("F").modified);

    // The same recording found again: in the same place with a new date on the front file, and with the
    // rear file in another folder; scanned this time with another category.
    QFile front(clip.files[Channel::front]);
    ASSERT_TRUE(front.open(QIODevice::ReadWrite));
    ASSERT_TRUE(front.setFileTime(QDateTime(QDate(2030, 1, 1), QTime(1, 2, 3), Qt::UTC),
                                  QFileDevice::FileModificationTime));
    front.close();
    QDir().mkpath(card + "/evt_rec");
    const QString newRear = card + "/evt_rec/20240501_083000_R.mp4";
    ASSERT_TRUE(QFile::rename(clip.files[Channel::rear], newRear));
    DashClip again = clip;
    again.files[Channel::rear] = newRear;
    again.category = ClipCategory::event;
    again.date = utc(2020, 1, 1);
    QThread::sleep(1); // a second import must not pass for the first
    cache->registerClips({again});

    const auto catalog = catalogAt(root);
    ASSERT_EQ(catalog.size(), 1u);
    const CatalogEntry &after = catalog.at(clip.catalogKey());
    EXPECT_EQ(after.importedAt, before.importedAt);
    EXPECT_EQ(after.category, ClipCategory::continuous);
    EXPECT_EQ(after.date, clip.date);
    const auto &f = after.files.at("F"), &r = after.files.at("R");
    EXPECT_EQ(f.modified, QDateTime(QDate(2030, 1, 1), QTime(1, 2, 3), Qt::UTC));
    EXPECT_EQ(f.bookmark, before.files.at("F").bookmark); // same path: kept
    EXPECT_EQ(r.originalPath, newRear);
    EXPECT_EQ(r.importedPath, clip.files[Channel::rear]);
    EXPECT_NE(r.bookmark, before.files.at("R").bookmark); // new path: made anew
    EXPECT_EQ(r.size, 200);

    // A changed total size is another recording; the old one stays.
    writeFile(clip.files[Channel::front], QByteArray(301, 'x'));
    DashClip grown = again;
    grown.byteSize = 501;
    cache->registerClips({grown});
    EXPECT_EQ(catalogAt(root).size(), 2u);
}

TEST_F(MediaCacheTest, NeverRegistersAStoredCopyButASiblingFolderIsNoCopy)
{
    auto cache = open();
    const DashClip clip =
        named("20240501_083000", {{Channel::front, root + "/Files/ab/abc/20240501_083000_F.mp4"},
                                  {Channel::rear, root + " 2/20240501_083000_R.mp4"},
                                  {Channel::interior, root + "/../x_I.mp4"}});
    const auto registered = cache->registerClips({clip});
    EXPECT_EQ(registered[0].channelStates, states({{Channel::front, S::original},
                                                   {Channel::rear, S::original},
                                                   {Channel::interior, S::original}}));
    const CatalogEntry entry = catalogAt(root).at(clip.catalogKey());
    EXPECT_FALSE(entry.files.count("F"));
    EXPECT_TRUE(entry.files.count("R"));
    EXPECT_TRUE(entry.files.count("I"));
    EXPECT_EQ(entry.files.at("R").size, 0); // unreadable: size 0, no bookmark, no date
    EXPECT_FALSE(entry.files.at("R").bookmark || entry.files.at("R").modified);
}

TEST_F(MediaCacheTest, ACardTakenAwayResolvesToCopiesAndBackToOriginals)
{
    DashClip clip =
        recording(card + "/cont_rec", "20240501_083000", {{Channel::front, 300}, {Channel::rear, 200}});
    const QString key = clip.catalogKey();
    const QString stored = "Files/0a/0a11/20240501_083000_F.mp4";
    mountCardAt(card);
    open()->registerClips({clip});
    addStoredCopy(root, key, Channel::front, stored);
    auto cache = open();

    // Out of the reader: no longer mounted (a folder moved on the same volume would be followed).
    *table = QList<MountEntry>{};
    ASSERT_TRUE(QDir().rename(card, tmp.filePath("CARD away")));
    auto listed = cache->clips(MediaCache::Scope::all());
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].channelStates, states({{Channel::front, S::cached}, {Channel::rear, S::missing}}));
    EXPECT_EQ(listed[0].files, (std::map<Channel, QString>{{Channel::front, root + "/" + stored}}));
    EXPECT_EQ(listed[0].originalFiles, clip.files);
    EXPECT_EQ(listed[0].cachedChannels, std::set<Channel>{Channel::front});
    EXPECT_EQ(listed[0].id, "catalog:" + key);
    EXPECT_EQ(listed[0].byteSize, 500);
    EXPECT_EQ(listed[0].storage(), S::missing);

    ASSERT_TRUE(QDir().rename(tmp.filePath("CARD away"), card));
    mountCardAt(card);
    // Files in place cost one size read each: no bookmark is followed, no mount table read.
    *mountReads = 0;
    listed = cache->clips(MediaCache::Scope::all());
    EXPECT_EQ(*mountReads, 0);
    EXPECT_EQ(listed[0].channelStates, states({{Channel::front, S::original}, {Channel::rear, S::original}}));
    EXPECT_EQ(listed[0].files, clip.files);
}

TEST_F(MediaCacheTest, AFileChangedInPlaceIsNeitherOriginalNorMoved)
{
    DashClip clip = recording(card, "20240501_083000", {{Channel::front, 300}});
    auto cache = open();
    cache->registerClips({clip});
    writeFile(clip.files[Channel::front], QByteArray(100, 't')); // truncated
    const DashClip resolved = cache->resolveForPlayback(clip);
    EXPECT_EQ(resolved.channelStates, states({{Channel::front, S::missing}}));
    EXPECT_TRUE(resolved.files.empty());
    EXPECT_EQ(catalogAt(root).at(clip.catalogKey()).files.at("F").originalPath, clip.files[Channel::front]);
}

TEST_F(MediaCacheTest, ACardMountedElsewhereOrAFileRenamedResolvesAsMovedOnce)
{
    mountCardAt(card);
    DashClip clip =
        recording(card + "/DCIM", "20240501_083000", {{Channel::front, 300}, {Channel::rear, 200}});
    const QString key = clip.catalogKey();
    open()->registerClips({clip});
    addStoredCopy(root, key, Channel::rear, "Files/0b/0b22/20240501_083000_R.mp4");
    auto cache = open();

    // The card comes back at "CARD1"; its rear file was renamed by the user.
    const QString second = tmp.filePath("CARD1");
    ASSERT_TRUE(QDir().rename(card, second));
    ASSERT_TRUE(QFile::rename(second + "/DCIM/20240501_083000_R.mp4", second + "/DCIM/renamed.mp4"));
    mountCardAt(second);
    DashClip moved = cache->resolveForPlayback(clip);
    EXPECT_EQ(moved.id, clip.id);
    EXPECT_EQ(moved.channelStates, states({{Channel::front, S::moved}, {Channel::rear, S::moved}}));
    const std::map<Channel, QString> now{{Channel::front, second + "/DCIM/20240501_083000_F.mp4"},
                                         {Channel::rear, second + "/DCIM/renamed.mp4"}};
    EXPECT_EQ(moved.files, now);
    EXPECT_EQ(moved.originalFiles, now);
    EXPECT_EQ(moved.cachedChannels, std::set<Channel>{Channel::rear});

    // The catalog on disk learned the new places; the next resolution finds the files in place.
    const CatalogEntry entry = catalogAt(root).at(key);
    EXPECT_EQ(entry.files.at("F").originalPath, now.at(Channel::front));
    EXPECT_EQ(entry.files.at("R").originalPath, now.at(Channel::rear));
    EXPECT_EQ(entry.files.at("F").importedPath, clip.files[Channel::front]);
    const auto listed = open()->clips(MediaCache::Scope::all());
    EXPECT_EQ(listed[0].channelStates, states({{Channel::front, S::original}, {Channel::rear, S::original}}));
    EXPECT_EQ(listed[0].files, now);

    // With the card gone from the mount table nothing is looked for: the copy, else missing.
    *table = QList<MountEntry>{};
    ASSERT_TRUE(QDir().rename(second, tmp.filePath("unplugged")));
    EXPECT_EQ(cache->resolveForPlayback(clip).channelStates,
              states({{Channel::front, S::missing}, {Channel::rear, S::cached}}));
}

TEST_F(MediaCacheTest, AFileMovedToAnotherFolderOfItsCardResolvesAsMovedOnce)
{
    mountCardAt(card);
    DashClip clip = recording(card + "/DCIM", "20240501_083000", {{Channel::front, 300}});
    auto cache = open();
    cache->registerClips({clip});
    const QString moved = card + "/Saved/20240501_083000_F.mp4";
    ASSERT_TRUE(QDir().mkpath(card + "/Saved"));
    ASSERT_TRUE(QFile::rename(clip.files[Channel::front], moved));
    const DashClip resolved = cache->resolveForPlayback(clip);
    EXPECT_EQ(resolved.channelStates, states({{Channel::front, S::moved}}));
    EXPECT_EQ(resolved.files.at(Channel::front), moved);
    EXPECT_EQ(catalogAt(root).at(clip.catalogKey()).files.at("F").originalPath, moved);
    EXPECT_EQ(cache->resolveForPlayback(clip).channelStates, states({{Channel::front, S::original}}));
}

TEST_F(MediaCacheTest, AFileRenamedInItsFolderIsFoundWithTheSystemMountTable)
{
    if (MountTable::current().isEmpty())
        GTEST_SKIP() << "no mount table";
    DashClip clip = recording(card, "20240501_083000", {{Channel::front, 300}});
    auto cache = open();
    cache->registerClips({clip});
    ASSERT_TRUE(QFile::rename(clip.files[Channel::front], card + "/kept.mp4"));
    EXPECT_EQ(cache->resolveForPlayback(clip).channelStates, states({{Channel::front, S::moved}}));
    EXPECT_EQ(cache->resolveForPlayback(clip).channelStates, states({{Channel::front, S::original}}));
    // Thrown into a Trash folder: not moved.
    QDir().mkpath(card + "/.Trash-1000/files");
    ASSERT_TRUE(QFile::rename(card + "/kept.mp4", card + "/.Trash-1000/files/kept.mp4"));
    EXPECT_EQ(cache->resolveForPlayback(clip).channelStates, states({{Channel::front, S::missing}}));
}

TEST_F(MediaCacheTest, ScopesCompareWholeFoldersAndIncludeFirstImportPaths)
{
    auto cache = open();
    cache->registerClips({
        named("a", {{Channel::front, "/media/me/CARD/DCIM/a_F.mp4"}}, utc(2024, 1, 1)),
        named("b", {{Channel::front, "/media/me/CARD 2/DCIM/b_F.mp4"}}, utc(2024, 1, 2)),
        named("c", {{Channel::front, "/media/me/CARDS/c_F.mp4"}}, utc(2024, 1, 3)),
        named("d", {{Channel::front, "/media/me/old/d_F.mp4"}}, utc(2024, 1, 4)),
    });
    // "d" found again elsewhere: its first import path still counts.
    cache->registerClips({named("d", {{Channel::front, "/media/me/CARD/moved/d_F.mp4"}})});

    using Scope = MediaCache::Scope;
    const auto names = [&](const Scope &scope, const QSet<QString> &excluding = {}) {
        QStringList out;
        for (const DashClip &clip : cache->clips(scope, excluding))
            out.append(clip.name);
        return out;
    };
    EXPECT_EQ(names(Scope::under({"/media/me/CARD"})), (QStringList{"d", "a"}));
    EXPECT_EQ(names(Scope::under({"/media/me/CARD/"})), (QStringList{"d", "a"}));
    EXPECT_EQ(names(Scope::under({"/media/me/CARD//"})), (QStringList{"d", "a"}));
    EXPECT_EQ(names(Scope::under({"/media/me/old"})), (QStringList{"d"}));
    EXPECT_EQ(names(Scope::under({"/media/me/CARD 2", "/media/me/CARDS"})), (QStringList{"c", "b"}));
    EXPECT_EQ(names(Scope::under({"/media/me/CARD/DCIM/a_F.mp4"})), QStringList{});
    EXPECT_EQ(names(Scope::under({"/media/me/CAR"})), QStringList{});
    EXPECT_EQ(names(Scope::under({""})), QStringList{});
    EXPECT_EQ(names(Scope::under({"/"})), (QStringList{"d", "c", "b", "a"}));
    EXPECT_EQ(names(Scope::exactPaths({"/media/me/old/d_F.mp4", "/media/me/CARDS/c_F.mp4"})),
              (QStringList{"d", "c"}));
    EXPECT_EQ(names(Scope::exactPaths({"/media/me/CARDS"})), QStringList{});
    EXPECT_EQ(names(Scope::all(), {"d#0", "b#0"}), (QStringList{"c", "a"}));
}

TEST_F(MediaCacheTest, ListsNewestFirstThenByNameDescendingWithUndatedLast)
{
    auto cache = open();
    cache->registerClips({named("b", {}, utc(2024, 1, 1)), named("z", {}), named("c", {}, utc(2024, 1, 1)),
                          named("a", {}, utc(2025, 1, 1)), named("y", {})});
    QStringList order;
    for (const DashClip &clip : cache->clips(MediaCache::Scope::all()))
        order.append(clip.name);
    EXPECT_EQ(order, (QStringList{"a", "c", "b", "z", "y"}));
}

TEST_F(MediaCacheTest, ResolvingForPlaybackAnUnknownRecordingLeavesItAlone)
{
    auto cache = open();
    DashClip unknown = named("never", {{Channel::front, "/nowhere/never_F.mp4"}});
    unknown.channelStates = {{Channel::front, S::cached}};
    EXPECT_EQ(cache->resolveForPlayback(unknown), unknown);
    EXPECT_FALSE(QFile::exists(root + "/catalog.json")); // nothing to save
}

TEST_F(MediaCacheTest, StoredPathsOutsideFilesAreNoCopyAndSurviveSaving)
{
    const QString outside = tmp.filePath("secret.mp4");
    writeFile(outside, "secret");
    const DashClip clip = named("x", {{Channel::front, "/gone/x_F.mp4"},
                                      {Channel::rear, "/gone/x_R.mp4"},
                                      {Channel::interior, "/gone/x_I.mp4"}});
    open()->registerClips({clip});
    const QString hostile[] = {outside, "Files/../../secret.mp4", "Other/x_I.mp4"};
    addStoredCopy(root, clip.catalogKey(), Channel::front, hostile[0]);
    addStoredCopy(root, clip.catalogKey(), Channel::rear, hostile[1]);
    addStoredCopy(root, clip.catalogKey(), Channel::interior, hostile[2]);
    writeFile(root + "/Other/x_I.mp4", "other");

    auto cache = open();
    const DashClip resolved = cache->resolveForPlayback(clip);
    EXPECT_EQ(
        resolved.channelStates,
        states({{Channel::front, S::missing}, {Channel::rear, S::missing}, {Channel::interior, S::missing}}));
    EXPECT_TRUE(resolved.files.empty());
    EXPECT_TRUE(resolved.cachedChannels.empty());
    const CatalogEntry entry = catalogAt(root).at(clip.catalogKey());
    EXPECT_EQ(entry.files.at("F").storedPath, hostile[0]);
    EXPECT_EQ(entry.files.at("R").storedPath, hostile[1]);
    EXPECT_EQ(entry.files.at("I").storedPath, hostile[2]);
}

TEST_F(MediaCacheTest, AnUnreadableCatalogStartsEmptyAndIsSetAsideBeforeTheFirstSave)
{
    const QByteArray good =
        R"({"key":"a#1","name":"a","category":"event","importedAt":"2024-01-01T00:00:00Z",)"
        R"("files":{"F":{"originalPath":"/a","size":1}}})";
    const QByteArray unreadable[] = {
        "[" + good +
            R"(,{"key":"b#1","name":"b","category":"dashcam","importedAt":"2024-01-01T00:00:00Z","files":{}}])",
        "[" + good + R"(,{"key":"b#1","name":"b","category":"event","files":{}}])",
        "[" + good +
            R"(,{"key":"b#1","name":"b","category":"event","importedAt":"2024-01-01T00:00:00.250Z","files":{}}])",
        "[" + good +
            R"(,{"key":"b#1","name":"b","category":"event","importedAt":"2024-01-01T00:00:00Z","files":{"F":{"size":1}}}])",
        "[" + good.left(40),
        "",
    };
    QStringList setAside;
    for (const QByteArray &text : unreadable) {
        writeFile(root + "/catalog.json", text);
        auto cache = open();
        EXPECT_EQ(readFile(root + "/catalog.json"), text); // nothing is written at creation
        EXPECT_TRUE(cache->clips(MediaCache::Scope::all()).isEmpty());
        cache->registerClips({named("new", {})});

        const QStringList now = QDir(root).entryList({"catalog.json.unreadable-*"}, QDir::Files, QDir::Name);
        ASSERT_EQ(now.size(), setAside.size() + 1) << text.toStdString();
        QString added;
        for (const QString &name : now)
            if (!setAside.contains(name))
                added = name;
        EXPECT_EQ(readFile(root + "/" + added), text);
        EXPECT_TRUE(
            QRegularExpression(R"(^catalog\.json\.unreadable-\d{8}T\d{6}Z(-\d+)?$)").match(added).hasMatch())
            << added.toStdString();
        setAside = now;
        // Where it was kept is told once, for the user.
        const std::optional<QString> told = cache->takeSetAsideCatalog();
        ASSERT_TRUE(told);
        EXPECT_EQ(QFileInfo(*told).fileName(), added);
        EXPECT_EQ(cache->takeSetAsideCatalog(), std::nullopt);
        EXPECT_EQ(catalogAt(root).size(), 1u); // only what was registered since
        QFile::remove(root + "/catalog.json");
    }
    // A readable catalog is never set aside.
    writeFile(root + "/catalog.json", "[" + good + "]");
    auto readable = open();
    readable->registerClips({});
    EXPECT_EQ(readable->takeSetAsideCatalog(), std::nullopt);
    EXPECT_EQ(QDir(root).entryList({"catalog.json.unreadable-*"}, QDir::Files).size(), setAside.size());
    EXPECT_EQ(catalogAt(root).size(), 1u);
}

TEST_F(MediaCacheTest, CallsOnAnotherThreadSeeTheRecordingsRegisteredBefore)
{
    auto cache = open();
    const DashClip clip = recording(card, "20240501_083000", {{Channel::front, 10}});
    cache->registerClips({clip});
    QStringList listed;
    DashClip played;
    std::thread([&] {
        for (const DashClip &c : cache->clips(MediaCache::Scope::under({card})))
            listed.append(c.name);
        played = cache->resolveForPlayback(clip);
    }).join();
    EXPECT_EQ(listed, QStringList{"20240501_083000"});
    EXPECT_EQ(played.channelStates, states({{Channel::front, S::original}}));
}

TEST_F(MediaCacheTest, ManyThreadsSeeWholeOperations)
{
    auto cache = open();
    constexpr int threads = 4, perThread = 15, rounds = 6;
    std::vector<QList<DashClip>> own(threads);
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < perThread; ++i)
            own[t].append(recording(
                card + QString("/t%1").arg(t), QString("2024010%1_1000%2").arg(t).arg(i, 2, 10, QChar('0')),
                {{Channel::front, 10 + i}, {Channel::rear, 5}}, utc(2024, 1, 1 + t, 0, i)));
    const QList<DashClip> shared{recording(card + "/shared", "20230101_000000", {{Channel::front, 7}})};

    std::atomic<int> faults = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round) {
                const auto registered = cache->registerClips(own[t] + shared);
                if (registered.size() != perThread + 1)
                    ++faults;
                const auto mine = cache->clips(MediaCache::Scope::under({card + QString("/t%1").arg(t)}));
                if (mine.size() != perThread)
                    ++faults;
                for (const DashClip &clip : mine)
                    if (clip.storage() != S::original)
                        ++faults;
                const DashClip played = cache->resolveForPlayback(own[t][round % perThread]);
                if (played.channelStates.size() != 2 || played.storage() != S::original)
                    ++faults;
                cache->usage();
            }
        });
    {
        const TestSupport::Deadline deadline(120000, "joining the cache's callers");
        for (auto &worker : workers)
            worker.join();
    }
    EXPECT_EQ(faults, 0);
    const auto all = cache->clips(MediaCache::Scope::all());
    EXPECT_EQ(all.size(), threads * perThread + 1);
    EXPECT_EQ(catalogAt(root).size(), size_t(threads * perThread + 1));
}

TEST(MediaCacheShared, IsOneInstanceInTheDataFolder)
{
    MediaCache &cache = MediaCache::shared();
    EXPECT_EQ(&cache, &MediaCache::shared());
    EXPECT_EQ(cache.root(), StandardFolders::mediaCacheRoot());
    EXPECT_TRUE(cache.root().endsWith("/Roadloom/Media Cache"));
    EXPECT_TRUE(QFileInfo(cache.root() + "/Files").isDir());
    EXPECT_TRUE(cache.clips(MediaCache::Scope::all()).isEmpty());
}

} // namespace

namespace {

TEST_F(MediaCacheTest, RemovingReplaceableCopiesKeepsTheOnlyCopyLeft)
{
    mountCardAt(card);
    auto cache = open();
    const DashClip clip = recording(card + "/DCIM", "20240501_083000",
                                    {{Channel::front, 300}, {Channel::rear, 200}, {Channel::interior, 100}});
    cache->registerClips({clip});
    for (const CacheJob &job : cache->pendingJobs(CachePolicy::all))
        ASSERT_TRUE(cache->perform(job).ok());
    ASSERT_EQ(cache->resolveForPlayback(clip).cachedChannels,
              (std::set<Channel>{Channel::front, Channel::rear, Channel::interior}));

    // Since the list was drawn: the rear file was renamed, the interior file is gone.
    ASSERT_TRUE(QFile::rename(clip.files.at(Channel::rear), card + "/DCIM/renamed.mp4"));
    ASSERT_TRUE(QFile::remove(clip.files.at(Channel::interior)));
    cache->removeReplaceableCopies(clip.catalogKey());

    const DashClip after = cache->resolveForPlayback(clip);
    EXPECT_EQ(after.cachedChannels, std::set<Channel>{Channel::interior});
    EXPECT_EQ(after.channelStates, states({{Channel::front, S::original},
                                           {Channel::rear, S::original},
                                           {Channel::interior, S::cached}}));
    EXPECT_EQ(cache->usage(), (MediaCache::Usage{100, 1, 1}));
    // The rear record follows its file, so the next plan copies nothing twice.
    EXPECT_EQ(catalogAt(root).at(clip.catalogKey()).files.at("R").originalPath, card + "/DCIM/renamed.mp4");
}

TEST_F(MediaCacheTest, ALargeListingResolvesEveryRecordingOnceAndLeavesTheCatalogFileAlone)
{
    // Enough recordings for the listing to share the work out; every 1000th has its file in place.
    const QDateTime start(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    CatalogEntry::Catalog catalog;
    for (int i = 0; i < 12000; ++i) {
        CatalogEntry entry;
        entry.name = QString("REC%1").arg(i, 5, 10, QLatin1Char('0'));
        entry.key = entry.name + "#3";
        entry.date = start.addSecs(i);
        entry.importedAt = start;
        CatalogEntry::File file;
        file.originalPath = card + "/" + entry.name + "_F.mp4";
        file.size = 3;
        if (i % 1000 == 0)
            writeFile(file.originalPath, "abc");
        entry.files.emplace("F", file);
        catalog.emplace(entry.key, entry);
    }
    const QByteArray text = CatalogEntry::writeCatalog(catalog);
    writeFile(root + "/catalog.json", text);
    auto cache = open();
    const QList<DashClip> listed = cache->clips(MediaCache::Scope::all());
    ASSERT_EQ(listed.size(), 12000);
    for (int i = 0; i < 12000; ++i) {
        const DashClip &clip = listed[i];
        const int n = 11999 - i; // newest first
        ASSERT_EQ(clip.name, QString("REC%1").arg(n, 5, 10, QLatin1Char('0')));
        EXPECT_EQ(clip.channelStates.at(Channel::front), n % 1000 == 0 ? S::original : S::missing) << n;
    }
    // Nothing changed, so nothing was written.
    EXPECT_EQ(readFile(root + "/catalog.json"), text);
}

TEST_F(MediaCacheTest, AListingLooksAtAMissingFolderOnceAndStillFindsTheFilesOfFoldersThatAreThere)
{
    // Recordings taken in turn from a folder that is not there, a full one and one with every other file,
    // so that each file's folder differs from the one looked at before.
    const QString gone = tmp.filePath("GONE/DCIM"), full = card + "/full", part = card + "/part";
    const QString folders[] = {gone, full, part};
    const QDateTime start(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    CatalogEntry::Catalog catalog;
    std::map<QString, S> expected;
    for (int i = 0; i < 30; ++i) {
        CatalogEntry entry;
        entry.name = QString("REC%1").arg(i, 2, 10, QLatin1Char('0'));
        entry.key = entry.name + "#3";
        entry.date = start.addSecs(i);
        entry.importedAt = start;
        CatalogEntry::File file;
        file.originalPath = folders[i % 3] + "/" + entry.name + "_F.mp4";
        file.size = 3;
        const bool there = i % 3 == 1 || (i % 3 == 2 && i % 2 == 0);
        if (there)
            writeFile(file.originalPath, "abc");
        entry.files.emplace("F", file);
        catalog.emplace(entry.key, entry);
        expected[entry.name] = there ? S::original : S::missing;
    }
    writeFile(root + "/catalog.json", CatalogEntry::writeCatalog(catalog));
    auto cache = open();
    const QList<DashClip> listed = cache->clips(MediaCache::Scope::all());
    ASSERT_EQ(listed.size(), 30);
    for (const DashClip &clip : listed)
        EXPECT_EQ(clip.channelStates.at(Channel::front), expected.at(clip.name)) << clip.name.toStdString();

    // The missing folder made later: its files are found by the next listing.
    for (int i = 0; i < 30; i += 3)
        writeFile(gone + QString("/REC%1_F.mp4").arg(i, 2, 10, QLatin1Char('0')), "abc");
    for (const DashClip &clip : cache->clips(MediaCache::Scope::all())) {
        if (clip.originalFiles.at(Channel::front).startsWith(gone)) {
            EXPECT_EQ(clip.channelStates.at(Channel::front), S::original) << clip.name.toStdString();
        }
    }
}

TEST_F(MediaCacheTest, AListingStoppedBeforeTheCatalogIsReadLeavesItToTheNextOperation)
{
    DashClip clip = recording(card, "20240501_083000", {{Channel::front, 300}});
    open()->registerClips({clip});
    const QByteArray text = readFile(root + "/catalog.json");
    auto cache = open();
    std::atomic<bool> stop = true;
    EXPECT_TRUE(cache->clips(MediaCache::Scope::all(), {}, &stop).isEmpty());
    // Not taken for an empty or unreadable catalog: the next operation reads it, and nothing was written.
    EXPECT_EQ(readFile(root + "/catalog.json"), text);
    EXPECT_EQ(QDir(root).entryList({"catalog.json.unreadable-*"}, QDir::Files), QStringList{});
    EXPECT_EQ(cache->usage()->recordings, 1);
    stop = false;
    EXPECT_EQ(cache->clips(MediaCache::Scope::all(), {}, &stop).size(), 1);
    stop = true;
    EXPECT_TRUE(cache->clips(MediaCache::Scope::all(), {}, &stop).isEmpty());
    cache->registerClips({clip});
    EXPECT_EQ(CatalogLoader::readText(readFile(root + "/catalog.json"))->size(), 1u);
}

} // namespace
