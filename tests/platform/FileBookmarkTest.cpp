#include "platform/FileBookmark.h"
#include "platform/MountTable.h"
#include "platform/Paths.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QCborMap>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

using TestSupport::writeFile;

quint64 deviceOf(const QString &path)
{
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    return quint64(st.st_dev);
}

// A card "mounted" at a folder of the temporary directory: same device, an identity of its own.
MountEntry card(const QString &mountPoint, const QString &uuid = "1234-ABCD")
{
    return {mountPoint, "/", "/dev/sdz1", "vfat", deviceOf(QFileInfo(mountPoint).path()), uuid};
}

TEST(Paths, ComparesWholeComponents)
{
    struct Case {
        QString path, folder;
        bool inside, below;
    } cases[] = {
        {"/m/Media Cache/x.mp4", "/m/Media Cache", true, true},
        {"/m/Media Cache/x.mp4", "/m/Media Cache/", true, true},
        {"/m/Media Cache 2/x.mp4", "/m/Media Cache", false, false},
        {"/m/Media Cache", "/m/Media Cache", true, false},
        {"/m/Media Cache/", "/m/Media Cache", true, false},
        {"/m/Media", "/m/Media Cache", false, false},
        {"/x", "/", true, true},
        {"/", "/", true, false},
        {"/x", "", false, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Paths::isInside(c.path, c.folder), c.inside)
            << c.path.toStdString() << " in " << c.folder.toStdString();
        EXPECT_EQ(Paths::isBelow(c.path, c.folder), c.below)
            << c.path.toStdString() << " below " << c.folder.toStdString();
    }
    EXPECT_TRUE(Paths::hasComponent(u"Files/../x", u".."));
    EXPECT_FALSE(Paths::hasComponent(u"Files/a..b/x", u".."));
    EXPECT_TRUE(Paths::hasComponent(u"..", u".."));
}

TEST(MountTable, ParsesMountinfoWithEscapesBindRootsAndUuids)
{
    const QByteArray text =
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "90 27 8:17 / /media/me/MY\\040CARD rw,nosuid shared:5 master:1 - vfat /dev/sdb1 rw\n"
        "91 27 8:17 /DCIM /srv/dcim rw - vfat /dev/sdb1 rw\n"
        "92 27 0:50 / /mnt/auto rw - autofs systemd-1 rw\n"
        "garbage line\n"
        "93 27 zz / /bad rw - ext4 /dev/x rw\n";
    const auto mounts =
        MountTable::parse(text, {{quint64(makedev(8, 17)), "1234-ABCD"}}, {{"/dev/vda", "root-uuid"}});
    ASSERT_EQ(mounts.size(), 4);
    EXPECT_EQ(mounts[0], (MountEntry{"/", "/", "/dev/vda", "ext4", quint64(makedev(254, 0)), "root-uuid"}));
    EXPECT_EQ(mounts[1], (MountEntry{"/media/me/MY CARD", "/", "/dev/sdb1", "vfat", quint64(makedev(8, 17)),
                                     "1234-ABCD"}));
    EXPECT_EQ(mounts[2].root, "/DCIM");
    EXPECT_EQ(mounts[2].uuid, "1234-ABCD");

    EXPECT_EQ(MountTable::containing(mounts, "/media/me/MY CARD/DCIM/a.mp4"), &mounts[1]);
    EXPECT_EQ(MountTable::containing(mounts, "/media/me/MY CARD 2/a.mp4"), &mounts[0]);
    // A longer mount point on another device loses to the file's own device.
    EXPECT_EQ(MountTable::containing(mounts, "/media/me/MY CARD/a.mp4", makedev(254, 0)), &mounts[0]);
    EXPECT_EQ(MountTable::containing({}, "/x"), nullptr);
}

TEST(FileBookmark, FindsTheFileInPlaceRenamedAndOnAVolumeMountedElsewhere)
{
    QTemporaryDir tmp;
    const QString mount = tmp.filePath("CARD");
    const QString file = mount + "/DCIM/20240101_101010_F.mp4";
    writeFile(file, QByteArray(5000, 'f'));
    writeFile(mount + "/DCIM/20240101_101010_R.mp4", QByteArray(5000, 'r')); // same size, other inode

    QList<MountEntry> table{card(mount)};
    const QByteArray bookmark = FileBookmark::create(file, table);
    ASSERT_FALSE(bookmark.isEmpty());
    const auto contents = FileBookmark::decode(bookmark);
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->relativePath, "DCIM/20240101_101010_F.mp4");
    EXPECT_EQ(contents->uuid, "1234-ABCD");
    EXPECT_EQ(FileBookmark::encode(*contents), bookmark);

    EXPECT_EQ(FileBookmark::resolve(bookmark, table), (FileBookmark::Resolved{file, false}));

    // Renamed within its folder: found by inode and size, never mistaken for its same-sized neighbor.
    const QString renamed = mount + "/DCIM/kept.mp4";
    ASSERT_TRUE(QFile::rename(file, renamed));
    EXPECT_EQ(FileBookmark::resolve(bookmark, table), (FileBookmark::Resolved{renamed, true}));
    ASSERT_TRUE(QFile::rename(renamed, file));

    // The card taken out: nothing is found, and nothing is looked at on the old path.
    EXPECT_EQ(FileBookmark::resolve(bookmark, {}), std::nullopt);
    EXPECT_EQ(FileBookmark::resolve(bookmark, {card(mount, "OTHER-CARD")}), std::nullopt);

    // The same card mounted at a second place.
    const QString second = tmp.filePath("CARD1");
    ASSERT_TRUE(QDir().rename(mount, second));
    table = {card(second)};
    EXPECT_EQ(FileBookmark::resolve(bookmark, table),
              (FileBookmark::Resolved{second + "/DCIM/20240101_101010_F.mp4", true}));
    // ... and renamed there.
    ASSERT_TRUE(QFile::rename(second + "/DCIM/20240101_101010_F.mp4", second + "/DCIM/x.mp4"));
    EXPECT_EQ(FileBookmark::resolve(bookmark, table), (FileBookmark::Resolved{second + "/DCIM/x.mp4", true}));

    // A folder of the card bind-mounted alone.
    MountEntry dcim = card(tmp.filePath("elsewhere"));
    dcim.root = "/DCIM";
    QDir().mkpath(dcim.mountPoint);
    ASSERT_TRUE(QDir().rename(second + "/DCIM", dcim.mountPoint + "/inner"));
    dcim.mountPoint += "/inner";
    EXPECT_EQ(FileBookmark::resolve(bookmark, {dcim}),
              (FileBookmark::Resolved{dcim.mountPoint + "/x.mp4", true}));
}

// A file moved to another folder of its card is found by its device, inode, size and time: near its old
// folder first, then anywhere on the card, within the search's budget.
TEST(FileBookmark, AFileMovedWithinItsVolumeIsFoundThere)
{
    QTemporaryDir tmp;
    const QString mount = tmp.filePath("CARD");
    const QString file = mount + "/DCIM/Front/20240101_101010_F.mp4";
    writeFile(file, QByteArray(5000, 'f'));
    writeFile(mount + "/DCIM/Rear/20240101_101010_R.mp4", QByteArray(5000, 'r'));
    const QList<MountEntry> table{card(mount)};
    const QByteArray bookmark = FileBookmark::create(file, table);
    ASSERT_FALSE(bookmark.isEmpty());

    const QString places[] = {
        mount + "/DCIM/Front/kept/20240101_101010_F.mp4",   // into a subfolder
        mount + "/DCIM/20240101_101010_F.mp4",              // up one level
        mount + "/DCIM/Rear/20240101_101010_F.mp4",         // into a sibling folder
        mount + "/Fahrten \u00FC\u00DF \u65E5\u672C/a.mp4", // into a folder named beyond ASCII
        mount + "/a/b/c/d/e.mp4",                           // far away on the card
    };
    QString at = file;
    for (const QString &place : places) {
        SCOPED_TRACE(place.toStdString());
        ASSERT_TRUE(QDir().mkpath(QFileInfo(place).path()));
        ASSERT_TRUE(QFile::rename(at, place));
        at = place;
        EXPECT_EQ(FileBookmark::resolve(bookmark, table), std::nullopt) << "without a search, no walking";
        FileBookmark::MoveSearch search;
        EXPECT_EQ(FileBookmark::resolve(bookmark, table, &search), (FileBookmark::Resolved{place, true}));
    }

    // Beyond the budget it is not looked for.
    int enough = 1; // the smallest budget that finds it
    for (;; ++enough) {
        ASSERT_LT(enough, FileBookmark::MoveSearch::defaultBudget);
        FileBookmark::MoveSearch probe(enough);
        if (FileBookmark::resolve(bookmark, table, &probe))
            break;
    }
    ASSERT_GT(enough, 1);
    FileBookmark::MoveSearch small(enough - 1);
    EXPECT_EQ(FileBookmark::resolve(bookmark, table, &small), std::nullopt);

    // One search serves many files: what it read answers again once its budget is spent.
    FileBookmark::MoveSearch shared(enough);
    ASSERT_TRUE(FileBookmark::resolve(bookmark, table, &shared));
    EXPECT_EQ(FileBookmark::resolve(bookmark, table, &shared), (FileBookmark::Resolved{at, true}));

    // Another file of the same size in its place is not it: the time tells (as it does for an inode freed
    // and given to a new file).
    QFile moved(at);
    ASSERT_TRUE(moved.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        moved.setFileTime(QDateTime::currentDateTimeUtc().addDays(-3), QFileDevice::FileModificationTime));
    moved.close();
    FileBookmark::MoveSearch afterTouch;
    EXPECT_EQ(FileBookmark::resolve(bookmark, table, &afterTouch), std::nullopt);

    // Thrown into the card's Trash: not a move.
    const QString trash = mount + "/.Trash-1000/files/b.mp4";
    const QString other = mount + "/DCIM/other.mp4";
    writeFile(other, "xyz");
    const QByteArray otherBookmark = FileBookmark::create(other, table);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(trash).path()));
    ASSERT_TRUE(QFile::rename(other, trash));
    FileBookmark::MoveSearch inTrash;
    EXPECT_EQ(FileBookmark::resolve(otherBookmark, table, &inTrash), std::nullopt);
}

TEST(FileBookmark, WithoutUuidAnotherPlaceMustHoldTheSameFile)
{
    QTemporaryDir tmp;
    const QString file = tmp.filePath("SHARE/a.mp4");
    writeFile(file, "abc");
    const MountEntry share = card(tmp.filePath("SHARE"), "");
    const QByteArray bookmark = FileBookmark::create(file, {share});
    ASSERT_FALSE(bookmark.isEmpty());

    // Same source and device at a new place, holding a different file of that name: not ours.
    MountEntry moved = share;
    moved.mountPoint = tmp.filePath("OTHER");
    writeFile(moved.mountPoint + "/a.mp4", "xyz");
    EXPECT_EQ(FileBookmark::resolve(bookmark, {moved}), std::nullopt);
    // The real file there: found.
    QFile::remove(moved.mountPoint + "/a.mp4");
    ASSERT_TRUE(QFile::rename(file, moved.mountPoint + "/a.mp4"));
    EXPECT_EQ(FileBookmark::resolve(bookmark, {moved}),
              (FileBookmark::Resolved{moved.mountPoint + "/a.mp4", true}));
    // An automount point is never looked at.
    moved.fsType = "autofs";
    EXPECT_EQ(FileBookmark::resolve(bookmark, {moved}), std::nullopt);
}

TEST(FileBookmark, WorksWithTheSystemMountTable)
{
    if (MountTable::current().isEmpty())
        GTEST_SKIP() << "no mount table";
    QTemporaryDir tmp;
    const QString file = tmp.filePath("a_F.mp4");
    writeFile(file, "12345");
    const QByteArray bookmark = FileBookmark::create(file);
    ASSERT_FALSE(bookmark.isEmpty());
    EXPECT_EQ(FileBookmark::resolve(bookmark), (FileBookmark::Resolved{file, false}));
    ASSERT_TRUE(QFile::rename(file, tmp.filePath("b_F.mp4")));
    EXPECT_EQ(FileBookmark::resolve(bookmark), (FileBookmark::Resolved{tmp.filePath("b_F.mp4"), true}));
    QFile::remove(tmp.filePath("b_F.mp4"));
    EXPECT_EQ(FileBookmark::resolve(bookmark), std::nullopt);
    EXPECT_TRUE(FileBookmark::create(tmp.path()).isEmpty()); // a folder
    EXPECT_TRUE(FileBookmark::create(tmp.filePath("none")).isEmpty());
    EXPECT_TRUE(FileBookmark::create("relative/a.mp4").isEmpty());
}

TEST(FileBookmark, TrashIsNeverAPlaceAFileMovedTo)
{
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    struct Case {
        QString path;
        bool inTrash;
    } cases[] = {
        {"/media/me/CARD/.Trash-1000/files/a.mp4", true},
        {"/media/me/CARD/.Trash/a.mp4", true},
        {home + "/Trash/files/a.mp4", true},
        {home + "/Trash 2/a.mp4", false},
        {"/media/me/CARD/.Trashy/a.mp4", false},
        {"/media/me/CARD/DCIM/a.mp4", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FileBookmark::isInTrash(c.path), c.inTrash) << c.path.toStdString();

    QTemporaryDir tmp;
    const QString trash = tmp.filePath("CARD/.Trash-1000/files");
    writeFile(trash + "/a.mp4", "abc");
    const QList<MountEntry> table{card(tmp.filePath("CARD"))};
    const QByteArray bookmark = FileBookmark::create(trash + "/a.mp4", table);
    ASSERT_TRUE(QFile::rename(trash + "/a.mp4", trash + "/b.mp4"));
    EXPECT_EQ(FileBookmark::resolve(bookmark, table), std::nullopt);
}

// The volume's UUID decides before the rest of the bookmark is read: each table below must give what the
// whole decoding gives, whatever order the bookmark's members come in.
TEST(FileBookmark, TheVolumesUuidAloneRulesOutACardThatIsNotIn)
{
    QTemporaryDir tmp;
    const QString mount = tmp.filePath("CARD");
    const QString file = mount + "/DCIM/20240101_101010_F.mp4";
    writeFile(file, QByteArray(5000, 'f'));
    const QByteArray bookmark = FileBookmark::create(file, {card(mount)});
    ASSERT_FALSE(bookmark.isEmpty());
    // The same contents with the UUID written last.
    const auto contents = FileBookmark::decode(bookmark);
    ASSERT_TRUE(contents);
    QCborMap reordered;
    reordered.insert(2, qint64(contents->device));
    reordered.insert(3, contents->source);
    reordered.insert(4, contents->mountPoint);
    reordered.insert(6, contents->relativePath);
    reordered.insert(7, qint64(contents->inode));
    reordered.insert(8, contents->size);
    reordered.insert(9, contents->modified);
    reordered.insert(1, contents->uuid);
    const QByteArray uuidLast = bookmark.left(4) + reordered.toCborValue().toCbor();
    ASSERT_EQ(FileBookmark::decode(uuidLast), contents);

    MountEntry automount = card(mount);
    automount.fsType = "autofs";
    const FileBookmark::Resolved inPlace{file, false};
    const struct {
        const char *what;
        QList<MountEntry> mounts;
        std::optional<FileBookmark::Resolved> expected;
    } cases[] = {
        {"no mounts", {}, std::nullopt},
        {"other cards only", {card(tmp.filePath("A"), "A-A"), card(tmp.filePath("B"), "B-B")}, std::nullopt},
        {"only an automount point of the card", {automount}, std::nullopt},
        {"the card after others", {card(tmp.filePath("A"), "A-A"), automount, card(mount)}, inPlace},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(FileBookmark::resolve(bookmark, c.mounts), c.expected) << c.what;
        EXPECT_EQ(FileBookmark::resolve(uuidLast, c.mounts), c.expected) << c.what << ", UUID last";
    }
}

TEST(FileBookmark, ForeignBytesDecodeToNothing)
{
    const FileBookmark::Contents good{"u", 5, "/dev/x", "/m", "/", "a/b.mp4", 7, 9};
    const QByteArray bytes = FileBookmark::encode(good);
    ASSERT_EQ(FileBookmark::decode(bytes), good);
    const QByteArray cases[] = {
        "",
        "RLB",
        "RLB\x02" + bytes.mid(4),          // another version
        bytes.left(bytes.size() - 1),      // cut short
        QByteArray("RLB\x01", 4) + "\xa0", // an empty map
        QByteArray("RLB\x01", 4) + "\x01", // not a map
        QByteArray::fromBase64("bm90IGEgYm9va21hcms="),
    };
    for (const QByteArray &c : cases)
        EXPECT_EQ(FileBookmark::decode(c), std::nullopt) << c.toHex().toStdString();
    for (const QString relative : {"../../etc/passwd", "/etc/passwd", "DCIM/../../x"}) {
        FileBookmark::Contents escaping = good;
        escaping.relativePath = relative;
        EXPECT_EQ(FileBookmark::decode(FileBookmark::encode(escaping)), std::nullopt)
            << relative.toStdString();
    }
    EXPECT_EQ(FileBookmark::resolve("nonsense", {}), std::nullopt);
}

} // namespace
