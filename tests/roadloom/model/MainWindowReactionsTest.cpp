#include "AppModelHarness.h"

#include "roadloom/model/MainWindowReactions.h"

#include <QSignalSpy>

using namespace AppHarness;
using TestSupport::waitFor;

namespace {

class MainWindowReactionsTest : public ModelTest {
protected:
    // The files the master player was given, in order.
    QStringList loads() const { return front().calls.filter(QRegularExpression("^load ")); }
    void drain()
    {
        waitFor([] { return false; }, 50);
    }
};

TEST_F(MainWindowReactionsTest, LoadsTheSelectionOncePerTurnWithTheAutoplayFlagTaken)
{
    const QList<DashClip> clips{recording("A", at(1)), recording("B", at(2)), recording("C", at(3))};
    make(clips);
    model->library().setSelectedClipID(clips[0].id);
    MainWindowReactions reactions(*model);
    EXPECT_TRUE(loads().isEmpty()) << "nothing before the event loop turns";
    ASSERT_TRUE(waitFor([&] { return loads().size() == 1; }));
    EXPECT_EQ(loads(), QStringList{"load /card/A_F.mp4"});
    EXPECT_EQ(model->player().clip()->id, clips[0].id);

    struct Case {
        QList<int> selections; // made in one turn; -1 is no selection
        bool autoplay;
        std::optional<QString> loaded; // none: unloaded; "" no new load
    };
    const Case cases[] = {
        {{1}, true, "B"},
        {{2}, false, "C"},
        {{0, 1}, true, "B"}, // two changes in one turn: one load, of the last
        {{2, 1}, false, ""}, // changed and changed back: no load
        {{-1}, false, std::nullopt},
        {{0}, false, "A"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.loaded.value_or("none").toStdString());
        front().calls.clear();
        QSignalSpy clipChanges(&model->player(), &PlayerController::clipChanged);
        model->setAutoplayNextLoad(c.autoplay);
        for (int i : c.selections)
            model->library().setSelectedClipID(i < 0 ? std::nullopt : std::optional<QString>(clips[i].id));
        drain();
        if (c.loaded && c.loaded->isEmpty()) {
            EXPECT_EQ(clipChanges.count(), 0);
            EXPECT_EQ(model->autoplayNextLoad(), c.autoplay) << "untaken";
            continue;
        }
        EXPECT_FALSE(model->autoplayNextLoad()) << "taken by the load";
        if (!c.loaded) {
            EXPECT_FALSE(model->player().clip());
            EXPECT_TRUE(loads().isEmpty());
            continue;
        }
        ASSERT_TRUE(waitFor([&] { return loads().size() == 1; }));
        EXPECT_EQ(loads(), QStringList{"load /card/" + *c.loaded + "_F.mp4"});
        front().fireReady(facts());
        EXPECT_EQ(model->player().isPlaying(), c.autoplay);
    }
}

TEST_F(MainWindowReactionsTest, ASelectionMissingFromTheListUnloads)
{
    const QList<DashClip> clips{recording("A", at(1))};
    make(clips);
    model->library().setSelectedClipID(clips[0].id);
    MainWindowReactions reactions(*model);
    ASSERT_TRUE(waitFor([&] { return model->player().clip().has_value(); }));
    model->library().setSelectedClipID("/card/gone");
    ASSERT_TRUE(waitFor([&] { return !model->player().clip().has_value(); }));
}

TEST_F(MainWindowReactionsTest, ARaisedConfigWindowRequestIsAnnouncedAndLowered)
{
    make({});
    model->setRequestConfigWindow(true); // raised before the window exists
    MainWindowReactions reactions(*model);
    QSignalSpy opened(&reactions, &MainWindowReactions::deviceSettingsRequested);
    ASSERT_TRUE(waitFor([&] { return opened.count() == 1; }));
    EXPECT_FALSE(model->requestConfigWindow());

    model->openDeviceSettings();
    EXPECT_EQ(opened.count(), 2);
    EXPECT_FALSE(model->requestConfigWindow());
    model->setRequestConfigWindow(false);
    EXPECT_EQ(opened.count(), 2);
}

} // namespace
