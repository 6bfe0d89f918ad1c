// The library store with the real scanner and a real media cache on a temporary root: card trees built
// on disk, volumes injected.
#include "LibraryTestSupport.h"
#include "platform/Trash.h"
#include "roadcore/LibraryScanner.h"

#include "platform/Defaults.h"
#include "roadcore/MediaCache.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

QStringList names(const QList<DashClip> &clips)
{
    QStringList result;
    for (const DashClip &c : clips)
        result.append(c.name);
    return result;
}

class LibraryStoreCardTest : public testing::Test {
protected:
    QTemporaryDir dir;
    Defaults defaults{dir.filePath("settings.ini")};
    FakeVolumes volumes;
    MediaCache cache{dir.filePath("Media Cache")};
    PlannerSpy planner;
    std::unique_ptr<LibraryStore> store; // last: ends before the cache it uses

    // A camera card: the recordings' channel files in the camera's folders.
    MountedVolume card(const QString &name, const QStringList &files)
    {
        const QString root = dir.filePath(name);
        for (const QString &file : files)
            TestSupport::writeFile(root + "/" + file, QByteArray(1000, 'v'));
        return {root, name.toUpper(), false};
    }
    LibraryStore &make()
    {
        store = std::make_unique<LibraryStore>(
            LibraryStore::Services{&volumes, &defaults, &cache, &LibraryScanner::scan, &Trash::system()});
        store->setCachePlanner(&planner);
        // The first source is chosen once the volumes have answered.
        EXPECT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID().has_value(); }));
        return *store;
    }
    void settle()
    {
        ASSERT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID().has_value(); }));
        QCoreApplication::processEvents();
        ASSERT_TRUE(TestSupport::waitFor([&] { return !store->isScanning(); }));
        QCoreApplication::processEvents();
    }
};

TEST_F(LibraryStoreCardTest, ACardIsScannedRegisteredAndKeepsRecordingsWhoseFilesWereDeleted)
{
    const MountedVolume x = card("x", {"DCIM/REC_20240501_100000_F.mp4", "DCIM/REC_20240501_100000_R.mp4",
                                       "DCIM/EVT_20240501_110000_F.mp4", "DCIM/REC_20240430_090000_F.mp4"});
    volumes.volumes = {x};
    make();
    EXPECT_EQ(store->selectedSourceID(), "device:" + x.rootPath);
    settle();
    EXPECT_EQ(names(store->clips()),
              (QStringList{"EVT_20240501_110000", "REC_20240501_100000", "REC_20240430_090000"}));
    EXPECT_EQ(store->clips()[1].channelStates.at(Channel::rear), StorageState::original);
    EXPECT_EQ(planner.starts, 1);

    QFile::remove(x.rootPath + "/DCIM/EVT_20240501_110000_F.mp4");
    store->rescan();
    settle();
    ASSERT_EQ(names(store->clips()),
              (QStringList{"EVT_20240501_110000", "REC_20240501_100000", "REC_20240430_090000"}));
    EXPECT_EQ(store->clips()[0].storage(), StorageState::missing);

    // All Media lists the catalog.
    store->setSelectedSourceID("catalog:");
    settle();
    EXPECT_EQ(store->clips().size(), 3);
}

TEST_F(LibraryStoreCardTest, UnmountingTheSelectedCardFallsBackToAllMediaWithARescan)
{
    const MountedVolume x = card("x", {"DCIM/REC_20240501_100000_F.mp4"});
    make();
    settle();
    EXPECT_EQ(store->selectedSourceID(), "catalog:");
    EXPECT_TRUE(store->clips().isEmpty());

    volumes.change({x});
    EXPECT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID() == "device:" + x.rootPath; }));
    settle();
    EXPECT_EQ(names(store->clips()), (QStringList{"REC_20240501_100000"}));

    QDir(x.rootPath).removeRecursively();
    volumes.change({});
    EXPECT_EQ(store->selectedSourceID(), "catalog:");
    const int starts = planner.starts;
    settle();
    EXPECT_EQ(planner.starts, starts + 1);
    ASSERT_EQ(names(store->clips()), (QStringList{"REC_20240501_100000"}));
    EXPECT_EQ(store->clips()[0].storage(), StorageState::missing);
}

TEST_F(LibraryStoreCardTest, CardsAreToldByTheirTopLevelAndNamedByLabelElseFolder)
{
    const MountedVolume lower = card("lower", {"dcim/x.txt"});
    MountedVolume normal = card("normal", {"Normal"});
    normal.name.clear();
    const MountedVolume music = card("music", {"Music/dcim/x.mp3"});
    const MountedVolume root = {card("root", {"DCIM/x.txt"}).rootPath, "", true};
    volumes.volumes = {root, music, lower, normal};
    make();
    EXPECT_EQ(store->devices(),
              (QList<LibrarySource>{{LibrarySource::Kind::device, "LOWER", {lower.rootPath}},
                                    {LibrarySource::Kind::device, "normal", {normal.rootPath}}}));
    EXPECT_EQ(store->selectedSourceID(), "device:" + lower.rootPath);
}

} // namespace
