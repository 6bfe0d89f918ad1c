#include "AppModelHarness.h"
#include "platform/Trash.h"

#include "platform/StandardFolders.h"
#include "roadloom/model/ConfigStore.h"

#include <QElapsedTimer>
#include <QSignalSpy>

using namespace AppHarness;
using TestSupport::waitFor;

namespace {

class AppModelTest : public ModelTest {};

TEST_F(AppModelTest, CreatesTheStoresInOrderAndRegistersDefaultsWithoutWritingThem)
{
    EXPECT_TRUE(QDir().mkpath(card()));
    defaults.setValue(QStringLiteral("libraryFolders"), QStringList{card()});
    AppModel::Services s;
    s.library = {&volumes, &defaults, &cache, scan.function(), &Trash::system()};
    s.cacheBackend = &cacheBackend;
    s.freeSpace = &freeSpace;
    s.players = [](PlayerRole) { return std::make_unique<FakeVideoPlayer>(); };
    s.playerServices = services->make(services);
    s.defaults = &defaults;
    s.panels = &panels;
    s.alerts = &alerts;
    s.printer = &printer;
    s.revealer = &revealer;
    model = std::make_unique<AppModel>(std::move(s));
    EXPECT_EQ(scan.calls, 0) << "the first rescan waits until the model is made";

    QStringList order;
    for (QObject *child : model->children())
        order.append(QString::fromLatin1(child->metaObject()->className()));
    EXPECT_EQ(order, (QStringList{"Preferences", "LibraryStore", "PlayerController", "ConfigStore",
                                  "CacheCoordinator"}));

    EXPECT_TRUE(defaults.boolean("autoPlayNext"));
    EXPECT_EQ(defaults.string("speedUnit"), "kmh");
    EXPECT_EQ(defaults.string("snapshotFolder"), StandardFolders::snapshots());
    EXPECT_TRUE(defaults.string("snapshotFolder").endsWith("/Roadloom"));
    for (const char *key : {"autoPlayNext", "speedUnit", "snapshotFolder"})
        EXPECT_FALSE(defaults.contains(key)) << key << " is registered, not stored";

    EXPECT_FALSE(model->showExportSheet());
    EXPECT_FALSE(model->showInspector());
    EXPECT_FALSE(model->theaterMode());
    EXPECT_FALSE(model->requestConfigWindow());
    EXPECT_FALSE(model->autoplayNextLoad());
    EXPECT_FALSE(model->toast());
    EXPECT_FALSE(model->config().file());
    EXPECT_TRUE(model->config().url().isEmpty());
    EXPECT_TRUE(model->player().onFinished);
    settle();
    EXPECT_EQ(model->library().selectedSourceID(), "folder:" + card());
    EXPECT_EQ(scan.calls, 1);
}

TEST_F(AppModelTest, SpeedUnitIsMphOnlyForExactlyMph)
{
    make({});
    struct Case {
        std::optional<QString> stored;
        SpeedUnit unit;
    };
    const Case cases[] = {{std::nullopt, SpeedUnit::kmh}, {"mph", SpeedUnit::mph}, {"MPH", SpeedUnit::kmh},
                          {"kmh", SpeedUnit::kmh},        {"", SpeedUnit::kmh},    {"knots", SpeedUnit::kmh}};
    for (const auto &c : cases) {
        if (c.stored)
            defaults.setValue("speedUnit", *c.stored);
        else
            defaults.remove("speedUnit");
        EXPECT_EQ(model->speedUnit(), c.unit) << c.stored.value_or("(none)").toStdString();
    }
}

TEST_F(AppModelTest, FlagsNotifyOnlyOnChange)
{
    make({});
    QSignalSpy sheet(model.get(), &AppModel::showExportSheetChanged);
    QSignalSpy inspector(model.get(), &AppModel::showInspectorChanged);
    QSignalSpy theater(model.get(), &AppModel::theaterModeChanged);
    QSignalSpy request(model.get(), &AppModel::requestConfigWindowChanged);
    for (int i = 0; i < 2; ++i) {
        model->setShowExportSheet(true);
        model->setShowInspector(true);
        model->setTheaterMode(true);
        model->setRequestConfigWindow(true);
    }
    model->setTheaterMode(false);
    EXPECT_EQ(sheet.count(), 1);
    EXPECT_EQ(inspector.count(), 1);
    EXPECT_EQ(theater.count(), 2);
    EXPECT_EQ(request.count(), 1);
}

// Listed newest first, as the list shows them by default.
QList<DashClip> mixedLibrary()
{
    return {recording("D", at(30)), recording("C2", at(20)), recording("C1", at(20)),
            recording("B", at(10)), recording("U2", {}),     recording("U1", {})};
}

TEST_F(AppModelTest, GoToClipFollowsDateThenNameWhateverTheListOrder)
{
    make(mixedLibrary());
    const QString prefix = "/card/";
    struct Case {
        const char *from;
        int offset;
        const char *to; // nullptr: nothing changes
    };
    // Undated first (by name), then by date, equal dates by name.
    const Case cases[] = {{"U1", 1, "U2"}, {"U2", 1, "B"},    {"B", 1, "C1"},      {"C1", 1, "C2"},
                          {"C2", 1, "D"},  {"D", 1, nullptr}, {"U1", -1, nullptr}, {"C1", -1, "B"},
                          {"B", -1, "U2"}, {"D", -2, "C1"},   {"U1", 6, nullptr},  {"D", -5, "U1"}};
    for (ClipSort sort : {ClipSort::newest, ClipSort::oldest, ClipSort::name, ClipSort::size}) {
        model->library().setSort(sort);
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.from) + " " + std::to_string(c.offset) + " sort " +
                         rawValue(sort).toStdString());
            model->library().setSelectedClipID(prefix + c.from);
            model->setAutoplayNextLoad(true); // an end changes nothing, not even this
            model->goToClip(c.offset);
            if (!c.to) {
                EXPECT_EQ(model->library().selectedClipID(), prefix + c.from);
                EXPECT_TRUE(model->autoplayNextLoad());
            } else {
                EXPECT_EQ(model->library().selectedClipID(), prefix + c.to);
                EXPECT_FALSE(model->autoplayNextLoad()) << "paused: the next recording stays paused";
            }
        }
    }
}

TEST_F(AppModelTest, GoToClipSkipsWhatTheSearchHidesAndStopsWhenTheSelectionIsHidden)
{
    make({recording("A_trip", at(1)), recording("B_home", at(2)), recording("C_trip", at(3))});
    model->library().setSearchText("trip");
    model->library().setSelectedClipID("/card/A_trip");
    model->goToClip(1, true);
    EXPECT_EQ(model->library().selectedClipID(), "/card/C_trip");
    EXPECT_TRUE(model->autoplayNextLoad());

    model->setAutoplayNextLoad(false);
    model->library().setSelectedClipID("/card/B_home");
    for (int offset : {1, -1}) {
        model->goToClip(offset, true);
        EXPECT_EQ(model->library().selectedClipID(), "/card/B_home");
        EXPECT_FALSE(model->autoplayNextLoad());
    }

    model->library().setSelectedClipID(std::nullopt);
    model->goToClip(1);
    EXPECT_EQ(model->library().selectedClipID(), std::nullopt);
    model->library().setSelectedClipID("/card/not-listed");
    model->goToClip(1);
    EXPECT_EQ(model->library().selectedClipID(), "/card/not-listed");
}

TEST_F(AppModelTest, WithoutAnAutoplayValueTheNextLoadPlaysWhenThePlayerPlays)
{
    const QList<DashClip> clips{recording("A", at(1)), recording("B", at(2)), recording("C", at(3))};
    make(clips);
    load(clips[0]);
    model->library().setSelectedClipID(clips[0].id);
    model->player().play();
    ASSERT_TRUE(model->player().isPlaying());
    model->goToClip(1);
    EXPECT_EQ(model->library().selectedClipID(), clips[1].id);
    EXPECT_TRUE(model->autoplayNextLoad());

    model->player().togglePlay();
    model->goToClip(1);
    EXPECT_EQ(model->library().selectedClipID(), clips[2].id);
    EXPECT_FALSE(model->autoplayNextLoad());
}

TEST_F(AppModelTest, EndOfRecordingMovesOnOnlyWithAutoPlayNext)
{
    const QList<DashClip> clips{recording("A", at(1)), recording("B", at(2))};
    make(clips);
    struct Case {
        std::optional<bool> stored;
        bool movesOn;
    };
    for (const Case &c : {Case{std::nullopt, true}, Case{true, true}, Case{false, false}}) {
        if (c.stored)
            defaults.setValue("autoPlayNext", *c.stored);
        model->library().setSelectedClipID(clips[0].id);
        model->setAutoplayNextLoad(false);
        load(clips[0]);
        front().fireEnd();
        EXPECT_EQ(model->library().selectedClipID(), c.movesOn ? clips[1].id : clips[0].id);
        EXPECT_EQ(model->autoplayNextLoad(), c.movesOn);
    }
}

TEST_F(AppModelTest, ANewerToastReplacesAnOlderOneWhoseTimerLeavesItAlone)
{
    using namespace std::chrono_literals;
    make({}, 400ms);
    QSignalSpy spy(model.get(), &AppModel::toastChanged);
    QElapsedTimer clock;
    clock.start();
    model->show("first", "camera.fill", "/tmp/x.png");
    ASSERT_TRUE(model->toast());
    EXPECT_EQ(model->toast()->message, "first");
    EXPECT_EQ(model->toast()->systemImage, "camera.fill");
    EXPECT_EQ(model->toast()->revealURL, "/tmp/x.png");
    const QUuid firstID = model->toast()->id;

    waitFor([] { return false; }, 250);
    model->show("first", "camera.fill", "/tmp/x.png");
    const qint64 secondShown = clock.elapsed();
    ASSERT_TRUE(model->toast());
    EXPECT_NE(model->toast()->id, firstID) << "the same text is a new message";
    EXPECT_FALSE(model->toast()->revealURL.has_value() && model->toast()->revealURL != "/tmp/x.png");

    waitFor([] { return false; }, 250); // the first message's time is up
    EXPECT_TRUE(model->toast()) << "the first timer leaves the newer message";
    ASSERT_TRUE(waitFor([&] { return !model->toast(); }, 2000));
    EXPECT_GE(clock.elapsed() - secondShown, 400 - 20);
    EXPECT_EQ(spy.count(), 3); // first, second, none
}

TEST_F(AppModelTest, OpenDeviceSettingsOpensTheSourceFileOnlyWithoutADocument)
{
    make({});
    // The selected folder has no configuration file: only the request.
    ASSERT_TRUE(TestSupport::finish(model->openDeviceSettings()));
    EXPECT_TRUE(model->requestConfigWindow());
    EXPECT_FALSE(model->config().file());

    // A card that does not answer: the window is asked for at once, the file comes with the answer.
    model->setRequestConfigWindow(false);
    TestSupport::writeFile(card() + "/SETTING/blackbox.cfg", "[Setting]\nGSENSOR=1\n");
    files.close(card());
    const QFuture<void> found = TestSupport::atOnce("Device Settings on a card that does not answer",
                                                    [&] { return model->openDeviceSettings(); });
    EXPECT_TRUE(model->requestConfigWindow());
    EXPECT_FALSE(model->config().file());
    files.open();
    ASSERT_TRUE(TestSupport::finish(found));
    ASSERT_TRUE(model->config().file());
    EXPECT_EQ(model->config().url(), card() + "/SETTING/blackbox.cfg");

    // An open document is kept even when the card now holds another file.
    const QString other = dir.filePath("other");
    TestSupport::writeFile(other + "/SETTING/setup.cfg", "A=1\n");
    model->library().addFolder(other);
    ASSERT_EQ(model->library().selectedSourceID(), "folder:" + other);
    ASSERT_TRUE(TestSupport::finish(model->openDeviceSettings()));
    EXPECT_EQ(model->config().url(), card() + "/SETTING/blackbox.cfg");
}

} // namespace
