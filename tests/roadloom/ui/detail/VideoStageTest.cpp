#include "roadloom/ui/detail/VideoStage.h"
#include "roadloom/ui/ViewHarness.h"

#include "roadloom/ui/widgets/ContentUnavailableWidget.h"

#include <QGuiApplication>
#include <QLabel>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>
#include <QWheelEvent>

#include <QScopeGuard>
#include <QSemaphore>

using namespace AppHarness;
using ViewHarness::click;
using ViewHarness::doubleClick;
using ViewHarness::drag;

namespace {

class VideoStageTest : public ModelTest {
protected:
    const DashClip trip = ViewHarness::twoCameras(QStringLiteral("Trip"));

    // A 1000 x 560 stage on a loaded two-camera recording; the inset is 260 wide at the top right.
    VideoStage &stage()
    {
        make({trip});
        load(trip);
        view = std::make_unique<VideoStage>(*model);
        view->resize(1000, 560);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        return *view;
    }
    PlayerController &player() const { return model->player(); }
    int plays() const { return int(front().calls.filter(QStringLiteral("play ")).size()); }
    // Longer than the double-click interval, so a held-back click has had its chance.
    void waitPastClickInterval()
    {
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 150);
    }
    void wheel(int delta, Qt::KeyboardModifiers modifiers)
    {
        const QPointF at(500, 280);
        QWheelEvent event(at, view->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.get(), &event);
    }
    void pinch(const QList<double> &values)
    {
        const QPointF at(500, 280);
        const auto send = [&](Qt::NativeGestureType type, double value) {
            QNativeGestureEvent event(type, QPointingDevice::primaryPointingDevice(), 2, at, at,
                                      view->mapToGlobal(at), value, QPointF());
            QApplication::sendEvent(view.get(), &event);
        };
        send(Qt::BeginNativeGesture, 0);
        for (double value : values)
            send(Qt::ZoomNativeGesture, value);
        send(Qt::EndNativeGesture, 0);
    }
    void TearDown() override
    {
        view.reset();
        ModelTest::TearDown();
    }

    std::unique_ptr<VideoStage> view;
};

} // namespace

TEST_F(VideoStageTest, DragsPanOnlyAZoomedPictureAndCtrlWheelZooms)
{
    VideoStage &s = stage();
    drag(&s, {300, 300}, {{30, 0}, {60, 40}});
    EXPECT_EQ(player().pan(), QSizeF(0, 0));

    player().setZoom(2);
    drag(&s, {300, 300}, {{5, 0}, {30, 0}, {60, 40}});
    EXPECT_EQ(player().pan(), QSizeF(60, 40));
    // The next drag adds to the pan it starts from.
    drag(&s, {300, 300}, {{-20, 10}});
    EXPECT_EQ(player().pan(), QSizeF(40, 50));
    // A drag is never a click.
    waitPastClickInterval();
    EXPECT_EQ(plays(), 0);

    player().setZoom(1);
    wheel(120, Qt::NoModifier);
    EXPECT_DOUBLE_EQ(player().zoom(), 1);
    wheel(120, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(player().zoom(), 1.25);
    wheel(240, Qt::ControlModifier);
    EXPECT_NEAR(player().zoom(), 1.25 * 1.25 * 1.25, 1e-9);
    wheel(-60, Qt::ControlModifier);
    EXPECT_NEAR(player().zoom(), 1.25 * 1.25 * std::sqrt(1.25), 1e-9);
    wheel(120 * 20, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(player().zoom(), 6);
    wheel(-120 * 20, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(player().zoom(), 1);
}

TEST_F(VideoStageTest, PinchesMultiplyTheZoomWithinItsRange)
{
    stage();
    player().setZoom(2);
    pinch({1.0, 1.0}); // x 2 x 2
    EXPECT_DOUBLE_EQ(player().zoom(), 6);

    player().setZoom(2);
    player().setPan({30, 20});
    pinch({0.5, 0.25}); // x 1.5 x 1.25: within the range
    EXPECT_DOUBLE_EQ(player().zoom(), 3.75);
    player().setZoom(2);
    pinch({-0.5, -0.5}); // x 0.25
    EXPECT_DOUBLE_EQ(player().zoom(), 1);
    EXPECT_EQ(player().pan(), QSizeF(0, 0));
}

TEST_F(VideoStageTest, ClicksPlayDoubleClicksZoomAndTheInsetSwaps)
{
    VideoStage &s = stage();
    doubleClick(&s, {300, 300});
    EXPECT_DOUBLE_EQ(player().zoom(), 2);
    doubleClick(&s, {300, 300});
    EXPECT_DOUBLE_EQ(player().zoom(), 1);
    waitPastClickInterval();
    EXPECT_EQ(plays(), 0);
    player().setZoom(1.5);
    doubleClick(&s, {300, 300});
    EXPECT_DOUBLE_EQ(player().zoom(), 1);

    // A lone click plays once, after the double-click interval.
    click(&s, {300, 300});
    EXPECT_EQ(plays(), 0);
    waitPastClickInterval();
    EXPECT_EQ(plays(), 1);
    EXPECT_TRUE(player().isPlaying());
    click(&s, {300, 300});
    waitPastClickInterval();
    EXPECT_FALSE(player().isPlaying());

    // The inset (260 x 146 at (726, 14)) swaps at once and never plays.
    const std::optional<QRectF> inset = s.insetRect();
    ASSERT_TRUE(inset);
    EXPECT_EQ(inset->topLeft(), QPointF(726, 14));
    click(&s, inset->center());
    EXPECT_TRUE(player().swapped());
    waitPastClickInterval();
    EXPECT_EQ(plays(), 1);
    EXPECT_FALSE(player().isPlaying());

    // Without the inset the same place is the picture.
    player().setShowPiP(false);
    EXPECT_FALSE(s.insetRect());
    click(&s, inset->center());
    EXPECT_TRUE(player().swapped());
    waitPastClickInterval();
    EXPECT_EQ(plays(), 2);
}

TEST_F(VideoStageTest, ShowsLoadingOrTheError)
{
    QSemaphore conversion;
    adjust = [&](AppModel::Services &s) {
        s.playerServices.convert = [&](const QString &, int) -> Result<QStringList> {
            conversion.acquire();
            return Failure{QStringLiteral("The AVI file could not be converted.")};
        };
    };
    const DashClip mp4 = ViewHarness::twoCameras(QStringLiteral("Plain"));
    DashClip avi =
        recording(QStringLiteral("Old"), at(1), {{Channel::front, QStringLiteral("/card/OLD_F.AVI")}});
    make({mp4, avi});
    const auto unblock = qScopeGuard([&] { conversion.release(10); });
    VideoStage s(*model);
    s.resize(800, 450);
    s.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
    EXPECT_FALSE(s.loadingOverlay()->isVisible());
    EXPECT_FALSE(s.errorOverlay()->isVisible());

    // An MP4 loading: the spinner alone.
    player().load(mp4, false);
    ASSERT_TRUE(TestSupport::waitFor([&] { return player().isLoading() && front().hasFile(); }));
    EXPECT_TRUE(s.loadingOverlay()->isVisible());
    EXPECT_FALSE(s.convertingLabel()->isVisible());
    EXPECT_FALSE(s.errorOverlay()->isVisible());

    // The master fails: the error with the controller's text, and the settings button.
    front().fireFailure(QStringLiteral("The file “Plain_F.mp4” could not be played."));
    ASSERT_TRUE(TestSupport::waitFor([&] { return player().loadError().has_value(); }));
    EXPECT_FALSE(s.loadingOverlay()->isVisible());
    ASSERT_TRUE(s.errorOverlay()->isVisible());
    EXPECT_EQ(s.errorOverlay()->title(), "Can't Play This Recording");
    EXPECT_EQ(s.errorOverlay()->symbol(), "exclamationmark.triangle");
    EXPECT_EQ(s.errorOverlay()->description(), *player().loadError());
    QSignalSpy settings(&s, &VideoStage::settingsRequested);
    const auto buttons = s.errorOverlay()->findChildren<QPushButton *>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons.first()->text(), "Open Settings…");
    buttons.first()->click();
    EXPECT_EQ(settings.size(), 1);

    // An AVI (any letter case) converting: the spinner with its text; the old error is gone.
    player().load(avi, false);
    ASSERT_TRUE(TestSupport::waitFor([&] { return player().isLoading(); }));
    EXPECT_TRUE(s.loadingOverlay()->isVisible());
    EXPECT_TRUE(s.convertingLabel()->isVisible());
    EXPECT_EQ(s.convertingLabel()->text(), "Converting AVI…");
    EXPECT_FALSE(s.errorOverlay()->isVisible());
    // The HUD and the spinner let clicks through to the stage.
    EXPECT_TRUE(s.loadingOverlay()->testAttribute(Qt::WA_TransparentForMouseEvents));

    conversion.release();
    ASSERT_TRUE(TestSupport::waitFor([&] { return player().loadError().has_value(); }));
    EXPECT_TRUE(s.errorOverlay()->isVisible());
    EXPECT_FALSE(s.loadingOverlay()->isVisible());
}
