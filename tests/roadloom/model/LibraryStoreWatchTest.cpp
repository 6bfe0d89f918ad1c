#include "LibraryTestSupport.h"

#include "fixtures/TestSupport.h"
#include "platform/Defaults.h"
#include "platform/Trash.h"
#include "roadcore/MediaCache.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

// A saved folder that goes away while the program runs (a card folder renamed, a drive pulled) shows as
// offline without a restart or a click, and comes back the same way.
namespace {

class AcceptingTrash : public Trash {
public:
    Result<void> moveToTrash(const QStringList &) override { return {}; }
};

class LibraryStoreWatchTest : public testing::Test {
protected:
    QTemporaryDir dir;
    Defaults defaults{dir.filePath("settings.ini")};
    FakeVolumes volumes;
    MediaCache cache{dir.filePath("Media Cache"), [] { return QList<MountEntry>{}; }};
    ScriptedScan scan;
    AcceptingTrash trash;
    std::unique_ptr<LibraryStore> store;

    // The change must show within 2 s; nothing else (no volume change, no activation) asks for a check.
    static constexpr int noticeMs = 2000;

    void make(const QStringList &folders)
    {
        defaults.setValue("libraryFolders", folders);
        store = std::make_unique<LibraryStore>(
            LibraryStore::Services{&volumes, &defaults, &cache, scan.function(), &trash});
        ASSERT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID().has_value(); }));
        QCoreApplication::processEvents();
        ASSERT_TRUE(TestSupport::waitFor([&] { return !store->isScanning(); }));
    }
    QStringList offline() const
    {
        QStringList names;
        for (const LibrarySource &folder : store->folders())
            if (store->isOffline(folder))
                names.append(folder.urls.first().mid(dir.path().size() + 1));
        return names;
    }
    void TearDown() override { store.reset(); }
};

TEST_F(LibraryStoreWatchTest, AFolderRenamedAwayAndBackIsNoticedWhileRunning)
{
    const QString card = dir.filePath("media/CARD/DCIM");
    const QString other = dir.filePath("other");
    ASSERT_TRUE(QDir().mkpath(card));
    ASSERT_TRUE(QDir().mkpath(other));
    DashClip clip;
    clip.name = "20240501_083000";
    clip.id = card + "/20240501_083000_F.mp4";
    clip.files = {{Channel::front, clip.id}};
    clip.byteSize = 5;
    TestSupport::writeFile(clip.id, "movie");
    scan.byRoot[card] = {clip};
    make({card, other});
    const LibrarySource selected{LibrarySource::Kind::folder, {}, {card}};
    ASSERT_EQ(store->selectedSourceID(), selected.id());
    ASSERT_TRUE(TestSupport::waitFor([&] { return store->clips().size() == 1; }));
    store->setSelectedClipID(clip.id);
    const int scansBefore = scan.calls;
    EXPECT_EQ(offline(), QStringList{});
    // The listed recording's file is there while its folder is.
    const auto original = [&] {
        return store->clips().size() == 1 &&
               store->clips().first().channelStates.at(Channel::front) == StorageState::original;
    };
    EXPECT_TRUE(original());

    struct Step {
        const char *what;
        QString from, to;
        QStringList offline;
    };
    const Step steps[] = {
        {"the folder renamed away", card, dir.filePath("media/CARD/DCIM-away"), {"media/CARD/DCIM"}},
        {"and back", dir.filePath("media/CARD/DCIM-away"), card, {}},
        // The folder above goes too (a card unmounted): the watch moves up to what is left.
        {"its parent renamed away",
         dir.filePath("media/CARD"),
         dir.filePath("media/CARD-away"),
         {"media/CARD/DCIM"}},
        {"the other folder removed meanwhile",
         other,
         dir.filePath("other-away"),
         {"media/CARD/DCIM", "other"}},
        {"the parent back", dir.filePath("media/CARD-away"), dir.filePath("media/CARD"), {"other"}},
        {"the other back", dir.filePath("other-away"), other, {}},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        QSignalSpy revisions(store.get(), &LibraryStore::availabilityRevisionChanged);
        ASSERT_TRUE(QDir().rename(step.from, step.to));
        EXPECT_TRUE(TestSupport::waitFor([&] { return offline() == step.offline; }, noticeMs))
            << offline().join(", ").toStdString();
        EXPECT_FALSE(revisions.isEmpty());
        // The listed recording follows its folder in place: same row, still selected.
        const bool there = !step.offline.contains("media/CARD/DCIM");
        EXPECT_TRUE(TestSupport::waitFor([&] { return original() == there; }, noticeMs));
        EXPECT_EQ(store->clips().first().id, clip.id);
        EXPECT_EQ(store->selectedClipID(), clip.id);
    }
    EXPECT_EQ(scan.calls, scansBefore);
}

} // namespace
