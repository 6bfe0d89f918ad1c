// The transport bar in the detail area on the application model's harness with scripted players: what its
// controls show, what they ask of the player and the library, and what the scrubber draws and seeks.
#include "roadloom/ui/ViewHarness.h"

#include "roadloom/model/PlayerController.h"
#include "roadloom/ui/detail/DetailView.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/detail/Scrubber.h"
#include "roadloom/ui/detail/TransportBar.h"
#include "roadloom/ui/detail/VideoHUD.h"
#include "roadloom/ui/detail/VideoStage.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <limits>
#include <map>
#include <set>

using namespace AppHarness;

namespace {

SensorSample sample(double time, double magnitude)
{
    return SensorSample{time, 0, 0, magnitude};
}

class TransportBarTest : public ModelTest {
protected:
    const QList<DashClip> clips{recording(QStringLiteral("a"), at(1)), recording(QStringLiteral("b"), at(2)),
                                ViewHarness::twoCameras(QStringLiteral("c"), at(3))};
    std::unique_ptr<QWidget> window;
    DetailView *detail = nullptr;
    TransportBar *bar = nullptr;
    QLineEdit *list = nullptr; // stands for the clip list that holds the focus

    // The detail area with the real bar beside a focused text field, in a window of that size.
    void build(QSize size = {1000, 640})
    {
        make(clips);
        window = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(window.get());
        list = new QLineEdit(window.get());
        layout->addWidget(list);
        detail = new DetailView(*model, window.get());
        bar = new TransportBar(*model);
        detail->setTransportBar(bar);
        layout->addWidget(detail, 1);
        window->resize(size);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        list->setFocus();
        QCoreApplication::processEvents();
    }
    void loadWith(const DashClip &clip, const Telemetry &telemetry)
    {
        services->telemetry[clip.files.begin()->second] = telemetry;
        load(clip);
    }
    PlayerController &player() { return model->player(); }
    QString lastCall() { return front().calls.isEmpty() ? QString() : front().calls.last(); }
    static QString symbol(const QObject *o) { return o->property("symbol").toString(); }
    QAction *rateItem(const QString &label)
    {
        for (QAction *a : bar->speedMenu()->actions())
            if (a->text() == label)
                return a;
        return nullptr;
    }
    QList<QToolButton *> transportButtons() const
    {
        return {bar->previousButton(),  bar->backButton(),    bar->previousFrameButton(), bar->playButton(),
                bar->nextFrameButton(), bar->forwardButton(), bar->nextButton()};
    }
    void TearDown() override
    {
        window.reset();
        ModelTest::TearDown();
    }
};

} // namespace

TEST_F(TransportBarTest, TimeTextFollowsSeeksAndResetsWithANewLoad)
{
    build();
    load(clips[0]);
    EXPECT_EQ(bar->timeLabel()->text(), "0:00.0 / 1:00.0");
    player().seek(15);
    EXPECT_EQ(bar->timeLabel()->text(), "0:15.0 / 1:00.0");
    front().fireTick(42.35);
    EXPECT_EQ(bar->timeLabel()->text(), "0:42.3 / 1:00.0");
    EXPECT_EQ(bar->timeLabel()->width(), TransportBar::timeWidth);

    player().load(clips[1], false); // loading: the controller has reset its time and duration
    EXPECT_EQ(bar->timeLabel()->text(), "0:00.0 / 0:00.0");
    ASSERT_TRUE(TestSupport::waitFor([&] { return player().isLoading(); }));
    EXPECT_FALSE(bar->transportGroup()->isEnabled());
    EXPECT_EQ(bar->timeLabel()->text(), "0:00.0 / 0:00.0");
}

TEST_F(TransportBarTest, EachTransportButtonMakesItsCallAndNoneTakesTheFocus)
{
    build();
    load(clips[0]);
    struct Case {
        const char *name;
        QToolButton *button;
        double at;
        QString call;
        QString help;
    };
    const QList<Case> cases{
        {"back near the start", bar->backButton(), 4, "seek 0", "Back 10 seconds"},
        {"back", bar->backButton(), 30, "seek 20", "Back 10 seconds"},
        {"forward near the end", bar->forwardButton(), 55, "seek 60", "Forward 10 seconds"},
        {"forward", bar->forwardButton(), 12.5, "seek 22.5", "Forward 10 seconds"},
        {"previous frame", bar->previousFrameButton(), 5, "step -1", "Previous frame (,)"},
        {"next frame", bar->nextFrameButton(), 5, "step 1", "Next frame (.)"},
        {"play", bar->playButton(), 5, "play 1", "Play / Pause (Space)"},
        {"pause", bar->playButton(), 5, "pause", "Play / Pause (Space)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        player().seek(c.at);
        front().calls.clear();
        QTest::mouseClick(c.button, Qt::LeftButton);
        EXPECT_EQ(lastCall(), c.call) << front().calls.join(", ").toStdString();
        EXPECT_EQ(c.button->toolTip(), c.help);
        EXPECT_TRUE(list->hasFocus()) << "the click left the focus where it was";
    }
    EXPECT_EQ(bar->previousButton()->toolTip(), "Previous recording (Ctrl+Up)");
    EXPECT_EQ(bar->nextButton()->toolTip(), "Next recording (Ctrl+Down)");
    for (QWidget *w : bar->findChildren<QWidget *>())
        EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << w->metaObject()->className();
}

TEST_F(TransportBarTest, PlayButtonSymbolFollowsPlaying)
{
    build();
    load(clips[0]);
    EXPECT_EQ(symbol(bar->playButton()), "play.fill");
    player().play();
    EXPECT_EQ(symbol(bar->playButton()), "pause.fill");
    front().fireEnd();
    QCoreApplication::processEvents();
    EXPECT_EQ(symbol(bar->playButton()), player().isPlaying() ? "pause.fill" : "play.fill");
    const QStringList expected{"backward.end.fill",  "gobackward.10", "backward.frame.fill", "play.fill",
                               "forward.frame.fill", "goforward.10",  "forward.end.fill"};
    player().togglePlay();
    if (player().isPlaying())
        player().togglePlay();
    QStringList symbols;
    for (QToolButton *b : transportButtons())
        symbols << symbol(b);
    EXPECT_EQ(symbols, expected);
    EXPECT_EQ(bar->playButton()->size(), QSize(44, 36));
    EXPECT_EQ(bar->backButton()->size(), QSize(30, 30));
}

TEST_F(TransportBarTest, PreviousAndNextMoveTheLibrarySelection)
{
    build();
    model->library().setSelectedClipID(clips[1].id);
    QCoreApplication::processEvents();
    load(clips[1]);
    QTest::mouseClick(bar->nextButton(), Qt::LeftButton);
    EXPECT_EQ(model->library().selectedClipID(), clips[2].id);
    model->library().setSelectedClipID(clips[1].id);
    load(clips[1]);
    QTest::mouseClick(bar->previousButton(), Qt::LeftButton);
    EXPECT_EQ(model->library().selectedClipID(), clips[0].id);
    EXPECT_TRUE(list->hasFocus());
}

TEST_F(TransportBarTest, WithoutPlayableMediaTheTransportIsOffButTheRightGroupStillWorks)
{
    build();
    enum class State { nothing, loading, failed };
    for (State state : {State::nothing, State::loading, State::failed}) {
        SCOPED_TRACE(int(state));
        if (state != State::nothing) {
            player().load(clips[0], false);
            ASSERT_TRUE(TestSupport::waitFor([&] { return front().hasFile(); }));
            if (state == State::failed) {
                front().fireFailure(QStringLiteral("broken"));
                ASSERT_TRUE(TestSupport::waitFor([&] { return player().loadError().has_value(); }));
            }
        }
        EXPECT_FALSE(player().hasMedia());
        EXPECT_FALSE(bar->transportGroup()->isEnabled());
        for (QToolButton *b : transportButtons())
            EXPECT_FALSE(b->isEnabled());
        EXPECT_FALSE(bar->scrubber()->isEnabled());
        for (QWidget *w : std::initializer_list<QWidget *>{bar->speedButton(), bar->muteButton(),
                                                           bar->volumeSlider(), bar->optionsButton()})
            EXPECT_TRUE(w->isEnabled());

        player().setRate(1);
        rateItem("2×")->trigger();
        EXPECT_EQ(player().rate(), 2);
        const bool muted = player().isMuted();
        QTest::mouseClick(bar->muteButton(), Qt::LeftButton);
        EXPECT_EQ(player().isMuted(), !muted);
        bar->volumeSlider()->setValue(250);
        EXPECT_DOUBLE_EQ(player().volume(), 0.25);
        const bool mirrored = player().mirrored();
        bar->option("Mirror")->trigger();
        EXPECT_EQ(player().mirrored(), !mirrored);
    }
}

TEST_F(TransportBarTest, SpeedLabelAndCheckFollowTheRate)
{
    build();
    load(clips[0]);
    QStringList items;
    for (QAction *a : bar->speedMenu()->actions())
        items << (a->isSeparator() ? "[" + a->text() + "]" : a->text());
    EXPECT_EQ(items, QStringList({"[Speed]", "0.25×", "0.5×", "Normal", "1.5×", "2×", "4×"}));

    struct Case {
        double rate;
        bool fromMenu;
        QString label;
        QString checked; // empty: none
    };
    const QList<Case> cases{
        {1, false, "1×", "Normal"},  {0.25, true, "0.25×", "0.25×"}, {2, false, "2×", "2×"},
        {1.5, true, "1.5×", "1.5×"}, {3, false, "3×", ""},           {1, true, "1×", "Normal"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label.toStdString());
        if (c.fromMenu)
            rateItem(c.fromMenu && c.rate == 1 ? "Normal" : c.label)->trigger();
        else
            player().setRate(c.rate);
        EXPECT_DOUBLE_EQ(player().rate(), c.rate);
        EXPECT_EQ(bar->speedButton()->text(), c.label);
        QStringList checked;
        for (QAction *a : bar->speedMenu()->actions())
            if (a->isChecked())
                checked << a->text();
        EXPECT_EQ(checked, c.checked.isEmpty() ? QStringList() : QStringList{c.checked});
    }
    EXPECT_TRUE(bar->speedButton()->font().weight() >= QFont::DemiBold);
}

TEST_F(TransportBarTest, SpeedLabelUsesTheLocalesDigits)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(TransportBar::speedText(0.5), "0,5×");
    EXPECT_EQ(TransportBar::speedText(1), "1×");
    QLocale::setDefault(previous);
    EXPECT_EQ(TransportBar::speedText(0.5), "0.5×");
}

TEST_F(TransportBarTest, MuteSymbolAndVolumeSliderFollowThePlayer)
{
    build();
    load(clips[0]);
    struct Case {
        bool muted;
        double volume;
        QString symbol;
        int slider;
    };
    for (const Case &c : QList<Case>{{true, 0.6, "speaker.slash.fill", 600},
                                     {false, 0, "speaker.slash.fill", 0},
                                     {false, 0.6, "speaker.wave.2.fill", 600},
                                     {false, 1, "speaker.wave.2.fill", 1000}}) {
        SCOPED_TRACE(c.symbol.toStdString());
        player().setMuted(c.muted);
        player().setVolume(c.volume);
        EXPECT_EQ(symbol(bar->muteButton()), c.symbol);
        EXPECT_EQ(bar->volumeSlider()->value(), c.slider);
    }
    // The slider writes once per move, and the model's answer does not come back as a second write.
    front().calls.clear();
    bar->volumeSlider()->setValue(300);
    EXPECT_DOUBLE_EQ(player().volume(), 0.3);
    EXPECT_EQ(front().calls.filter("volume").size(), 1) << front().calls.join(", ").toStdString();
    bar->volumeSlider()->setValue(0);
    EXPECT_EQ(symbol(bar->muteButton()), "speaker.slash.fill");
    EXPECT_EQ(bar->volumeSlider()->width(), TransportBar::volumeWidth);
    EXPECT_EQ(bar->muteButton()->width(), 20);
}

TEST_F(TransportBarTest, OptionsMenuActsOnTheViewAndKnowsTheRearCamera)
{
    build();
    load(clips[0]); // one camera
    QMenu *menu = bar->optionsMenu();
    emit menu->aboutToShow();
    EXPECT_FALSE(bar->option("Swap Cameras")->isEnabled());
    EXPECT_FALSE(bar->option("Picture in Picture")->isEnabled());
    for (const char *text : {"Zoom In", "Zoom Out", "Rotate 90°", "Mirror", "Reset View"})
        EXPECT_TRUE(bar->option(text)->isEnabled()) << text;
    EXPECT_EQ(symbol(bar->optionsButton()), "rectangle.on.rectangle");
    EXPECT_EQ(bar->optionsButton()->toolTip(), "Camera & view options");

    QList<double> rotations;
    for (int i = 0; i < 4; ++i) {
        bar->option("Rotate 90°")->trigger();
        rotations << player().rotation();
    }
    EXPECT_EQ(rotations, QList<double>({90, 180, 270, 0}));

    bar->option("Zoom In")->trigger();
    EXPECT_GT(player().zoom(), 1.0);
    bar->option("Mirror")->trigger();
    bar->option("Rotate 90°")->trigger();
    EXPECT_TRUE(player().mirrored());
    EXPECT_TRUE(bar->option("Mirror")->isChecked());
    bar->option("Reset View")->trigger();
    EXPECT_EQ(player().zoom(), 1.0);
    EXPECT_EQ(player().rotation(), 0.0);
    EXPECT_FALSE(player().mirrored());
    EXPECT_FALSE(bar->option("Mirror")->isChecked());
    bar->option("Zoom In")->trigger();
    bar->option("Zoom Out")->trigger();
    EXPECT_EQ(player().zoom(), 1.0);

    load(clips[2]); // two cameras
    EXPECT_TRUE(bar->option("Swap Cameras")->isEnabled());
    EXPECT_TRUE(bar->option("Picture in Picture")->isEnabled());
    const bool swapped = player().swapped(), pip = player().showPiP();
    bar->option("Swap Cameras")->trigger();
    bar->option("Picture in Picture")->trigger();
    EXPECT_EQ(player().swapped(), !swapped);
    EXPECT_EQ(player().showPiP(), !pip);
    EXPECT_EQ(bar->option("Picture in Picture")->isChecked(), !pip);
    player().setShowPiP(pip);
    EXPECT_EQ(bar->option("Picture in Picture")->isChecked(), pip);
}

TEST(ScrubberEnvelope, BinsTakeTheLargestJoltAboveTheFloor)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *name;
        QList<SensorSample> samples;
        double duration;
        int bins;
        std::map<int, double> expected; // bins not named: 0.03
    };
    const QList<Case> cases{
        {"no samples", {}, 60, 180, {}},
        {"no bins", {sample(1, 3)}, 60, 0, {}},
        {"at rest", {sample(0, 1.0)}, 60, 180, {}},
        {"2 g is half", {sample(0, 2.0)}, 60, 180, {{0, 0.5}}},
        {"3 g and above are full", {sample(30, 3.0), sample(45, 9.0)}, 60, 180, {{90, 1}, {135, 1}}},
        {"0 g is half", {sample(1, 0.0)}, 60, 180, {{3, 0.5}}},
        {"the larger one stays",
         {sample(10, 1.4), sample(10.1, 2.2), sample(10.2, 1.2)},
         60,
         180,
         {{30, 0.6}}},
        {"at the duration: last bin", {sample(60, 2)}, 60, 180, {{179, 0.5}}},
        {"after the duration: last bin", {sample(1e300, 2)}, 60, 180, {{179, 0.5}}},
        {"before the start: first bin", {sample(-5, 2), sample(-1e300, 2)}, 60, 180, {{0, 0.5}}},
        {"NaN time: first bin", {sample(nan, 2)}, 60, 180, {{0, 0.5}}},
        {"NaN reading: no jolt", {sample(3, nan)}, 60, 180, {}},
        {"overflowing reading: full", {SensorSample{3, 1e300, 1e300, 1e300}}, 60, 180, {{9, 1}}},
        {"duration of a millisecond",
         {sample(0.0005, 2), sample(0.002, 3)},
         0.001,
         180,
         {{90, 0.5}, {179, 1}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<double> bins = Scrubber::envelope(c.samples, c.duration, c.bins);
        ASSERT_EQ(int(bins.size()), c.bins);
        for (int i = 0; i < c.bins; ++i) {
            const auto it = c.expected.find(i);
            EXPECT_DOUBLE_EQ(bins[i], it == c.expected.end() ? 0.03 : it->second) << "bin " << i;
        }
    }
}

TEST_F(TransportBarTest, ScrubberSeeksOnPressAndDragButNotWithoutMedia)
{
    build();
    Scrubber *scrubber = bar->scrubber();
    scrubber->setFixedWidth(360);
    QCoreApplication::processEvents();

    ViewHarness::click(scrubber, QPointF(90, 20));
    EXPECT_TRUE(front().calls.filter("seek").isEmpty()) << "no recording: no seek";

    load(clips[0]);
    struct Case {
        const char *name;
        QPointF press;
        QList<QPointF> moves;
        QStringList seeks;
    };
    const QList<Case> cases{
        {"press at the left", {0, 20}, {}, {"seek 0"}},
        {"press at a quarter", {90, 20}, {}, {"seek 15"}},
        {"drag past the right edge",
         {180, 20},
         {{100, 0}, {400, 30}},
         {"seek 30", "seek 46.6667", "seek 60"}},
        {"drag past the left edge", {36, 20}, {{-200, 0}}, {"seek 6", "seek 0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        front().calls.clear();
        ViewHarness::drag(scrubber, c.press, c.moves);
        EXPECT_EQ(front().calls.filter("seek"), c.seeks);
    }
}

TEST_F(TransportBarTest, PeakMarkerAppearsAboveOnePointFiveGWithItsHelp)
{
    build();
    Scrubber *scrubber = bar->scrubber();
    struct Case {
        double peak;
        bool marker;
        QString help;
    };
    int i = 0;
    for (const Case &c : QList<Case>{{1.5, false, ""}, {1.51, true, "Peak 1.51 g at 0:05.0"}}) {
        SCOPED_TRACE(c.peak);
        const DashClip &clip = clips[i++];
        loadWith(clip,
                 Telemetry({sample(1, 1.1), sample(5, c.peak), sample(9, 1.2)}, {}, QStringLiteral("t")));
        const auto marker = scrubber->markerRect();
        ASSERT_EQ(marker.has_value(), c.marker);
        if (!marker)
            continue;
        EXPECT_NEAR(marker->center().x(), scrubber->width() * 5 / 60.0, 0.01);
        EXPECT_NEAR(marker->center().y(), scrubber->barRect().top() - 3, 0.01);
        EXPECT_EQ(scrubber->toolTipAt(marker->center()), c.help);
        EXPECT_EQ(scrubber->toolTipAt(marker->center() + QPointF(0, 20)), "") << "only over the marker";
        EXPECT_EQ(scrubber->toolTipAt(QPointF(scrubber->width() - 2, 2)), "");
    }
}

TEST_F(TransportBarTest, ScrubberDrawsSeverityProgressAndPlayhead)
{
    build({1000, 640});
    Scrubber *scrubber = bar->scrubber();
    scrubber->setFixedWidth(720); // 4 pixels a bin
    QCoreApplication::processEvents();
    // A hard jolt at 50 s (bin 150, not yet played), moderate ones everywhere else.
    QList<SensorSample> samples;
    for (int s = 0; s < 60; ++s)
        samples << sample(s + 0.1, s == 50 ? 3.0 : 1.8);
    loadWith(clips[0], Telemetry(samples, {}, QStringLiteral("t")));
    player().seek(30);
    const QImage image = scrubber->grab().toImage();
    const QPalette pal = scrubber->palette();
    const int mid = int(scrubber->barRect().center().y());
    auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
               std::abs(a.blue() - b.blue()) < 40;
    };
    const QColor accent = Palette::accent(pal), red = Palette::red(pal);
    const QColor red150 = image.pixelColor(150 * 4 + 1, mid);
    EXPECT_TRUE(near(red150, red)) << red150.name().toStdString();
    const QColor played = image.pixelColor(40 * 4 + 1, mid);
    EXPECT_TRUE(near(played, accent)) << played.name().toStdString();
    const QColor later = image.pixelColor(120 * 4 + 1, mid);
    EXPECT_FALSE(near(later, accent)) << later.name().toStdString();
    EXPECT_LT(std::abs(later.red() - later.blue()), 30) << "grey: " << later.name().toStdString();
    // Between bars (the 1-pixel gap) lies the track, lighter than any bar.
    const QColor playhead = image.pixelColor(int(scrubber->playheadX()), scrubber->barRect().top() - 2);
    EXPECT_TRUE(near(playhead, pal.color(QPalette::WindowText))) << playhead.name().toStdString();
    EXPECT_EQ(int(scrubber->playheadX()), 360);
    const QColor besideHead =
        image.pixelColor(int(scrubber->playheadX()) + 20, scrubber->barRect().top() - 2);
    EXPECT_FALSE(near(besideHead, pal.color(QPalette::WindowText)));
}

TEST_F(TransportBarTest, APlayingTickRepaintsOnlyTheTimeTheScrubberAndTheDisplay)
{
    build();
    load(clips[0]);
    player().play();
    QTest::qWait(50);

    struct PaintLog : QObject {
        std::map<QWidget *, int> painted;
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (e->type() == QEvent::Paint && o->isWidgetType())
                ++painted[static_cast<QWidget *>(o)];
            return false;
        }
    } log;
    qApp->installEventFilter(&log);
    for (int i = 1; i <= 30; ++i) {
        front().fireTick(i / 30.0);
        QCoreApplication::processEvents();
        QTest::qWait(5);
    }
    qApp->removeEventFilter(&log);

    EXPECT_GE(log.painted[bar->scrubber()], 20);
    EXPECT_GE(log.painted[bar->timeLabel()], 9) << "a new tenth of a second every third tick";
    for (const auto &[widget, count] : log.painted) {
        // The display is see-through: the stage's picture under it is drawn again with it.
        const bool allowed = widget == bar->scrubber() || widget == bar->timeLabel() ||
                             qobject_cast<VideoHUD *>(widget) != nullptr || widget == detail->stage();
        EXPECT_TRUE(allowed) << widget->metaObject()->className() << " " << widget->objectName().toStdString()
                             << " painted " << count << " times";
    }
}

// Visible controls of the row all inside the bar and none over another; the failures name the pair.
::testing::AssertionResult rowFits(TransportBar *bar)
{
    QList<QRect> rects;
    for (QWidget *w : std::initializer_list<QWidget *>{
             bar->timeLabel(), bar->previousButton(), bar->backButton(), bar->previousFrameButton(),
             bar->playButton(), bar->nextFrameButton(), bar->forwardButton(), bar->nextButton(),
             bar->speedButton(), bar->muteButton(), bar->volumeSlider(), bar->optionsButton()})
        if (w->isVisible())
            rects << QRect(w->mapTo(bar, QPoint(0, 0)), w->size());
    for (int i = 0; i < rects.size(); ++i) {
        if (!bar->rect().contains(rects[i]))
            return ::testing::AssertionFailure() << "control " << i << " leaves the bar";
        for (int j = i + 1; j < rects.size(); ++j)
            if (rects[i].intersects(rects[j]))
                return ::testing::AssertionFailure() << "controls " << i << " and " << j << " overlap";
    }
    return ::testing::AssertionSuccess();
}

TEST_F(TransportBarTest, ANarrowColumnDropsTheSliderAndFrameStepsAndNoControlsOverlap)
{
    build();
    load(clips[0]);
    for (int width : {1000, 470}) {
        SCOPED_TRACE(width);
        bar->setFixedWidth(width);
        QCoreApplication::processEvents();
        for (QWidget *w : std::initializer_list<QWidget *>{bar->volumeSlider(), bar->previousFrameButton(),
                                                           bar->nextFrameButton()})
            EXPECT_EQ(w->isVisible(), width == 1000);
        EXPECT_TRUE(rowFits(bar));
    }
}

// A live resize across the threshold changes the row once each way, at the full row's width going down and
// a little beyond it going up, and the controls fit at every width on the way.
TEST_F(TransportBarTest, OneThresholdFromTheFullRowWithHysteresis)
{
    build();
    load(clips[0]);
    bar->setFixedWidth(900);
    QCoreApplication::processEvents();
    const int full = bar->fullWidth();
    EXPECT_GT(full, 600);
    EXPECT_LT(full, 900);
    QList<int> down, up;
    for (int width = 820; width >= 560; width -= 2)
        down << width;
    for (int width = 560; width <= 820; width += 2)
        up << width;
    for (const QList<int> &sweep : {down, up}) {
        int changes = 0;
        bool compact = bar->isCompact();
        for (int width : sweep) {
            SCOPED_TRACE(width);
            bar->setFixedWidth(width);
            QCoreApplication::processEvents();
            EXPECT_EQ(bar->fullWidth(), full) << "the narrow row never moves the threshold";
            EXPECT_TRUE(rowFits(bar));
            changes += bar->isCompact() != compact;
            compact = bar->isCompact();
            if (sweep.first() > sweep.last()) {
                EXPECT_EQ(compact, width < full);
            } else {
                EXPECT_EQ(compact, width < full + TransportBar::hysteresis);
            }
        }
        EXPECT_EQ(changes, 1);
    }
}

// Narrower than the narrow row (the smallest window with the inspector leaves some 280 pixels), the time and
// the right group move to a row above the transport buttons: once each way, at the narrow row's width going
// down and a little beyond it going up, with every control apart at every width on the way.
TEST_F(TransportBarTest, TheNarrowestColumnStacksTheRowsAndNoControlsOverlap)
{
    build();
    load(clips[0]);
    bar->setFixedWidth(600);
    QCoreApplication::processEvents();
    const int narrow = bar->compactWidth();
    EXPECT_LT(narrow, 470);
    EXPECT_GT(narrow, 280);
    const int rowHeight = bar->height();
    QList<int> down, up;
    for (int width = 480; width >= 260; width -= 2)
        down << width;
    for (int width = 260; width <= 480; width += 2)
        up << width;
    for (const QList<int> &sweep : {down, up}) {
        int changes = 0;
        bool stacked = bar->isStacked();
        for (int width : sweep) {
            SCOPED_TRACE(width);
            bar->setFixedWidth(width);
            QCoreApplication::processEvents();
            QCoreApplication::processEvents(); // the detail area gives a stacked bar its new height
            EXPECT_EQ(bar->compactWidth(), narrow) << "the stacked rows never move the threshold";
            EXPECT_TRUE(bar->isCompact());
            EXPECT_TRUE(rowFits(bar));
            changes += bar->isStacked() != stacked;
            stacked = bar->isStacked();
            if (sweep.first() > sweep.last()) {
                EXPECT_EQ(stacked, width < narrow);
            } else {
                EXPECT_EQ(stacked, width < narrow + TransportBar::hysteresis);
            }
            if (stacked) {
                EXPECT_GT(bar->height(), rowHeight);
                EXPECT_LT(bar->timeLabel()->geometry().bottom(), bar->transportGroup()->geometry().top());
            } else {
                EXPECT_EQ(bar->height(), rowHeight);
            }
        }
        EXPECT_EQ(changes, 1);
    }
    // Every control is still there at the narrowest, the volume behind the mute button.
    bar->setFixedWidth(260);
    QCoreApplication::processEvents();
    for (QToolButton *button :
         {bar->previousButton(), bar->backButton(), bar->playButton(), bar->forwardButton(),
          bar->nextButton(), bar->speedButton(), bar->muteButton(), bar->optionsButton()})
        EXPECT_TRUE(button->isVisible());
    EXPECT_NE(bar->muteButton()->menu(), nullptr);
    // Wide again: one row, as before.
    bar->setFixedWidth(1000);
    QCoreApplication::processEvents();
    EXPECT_FALSE(bar->isStacked());
    EXPECT_EQ(bar->height(), rowHeight);
    EXPECT_TRUE(rowFits(bar));
}

// The narrow bar has no room for the slider: the mute button still mutes with a click, and its arrow opens
// a vertical slider that sets the volume.
TEST_F(TransportBarTest, TheNarrowBarStillSetsTheVolume)
{
    build();
    load(clips[0]);
    player().setVolume(0.6);
    bar->setFixedWidth(470);
    QCoreApplication::processEvents();
    ASSERT_TRUE(bar->isCompact());
    QToolButton *mute = bar->muteButton();
    ASSERT_NE(mute->menu(), nullptr);
    QSlider *popup = bar->popupVolumeSlider();
    EXPECT_EQ(popup->orientation(), Qt::Vertical);
    EXPECT_EQ(popup->value(), 600);

    QTest::mouseClick(mute, Qt::LeftButton, {}, QPoint(6, mute->height() / 2));
    EXPECT_TRUE(player().isMuted()) << "a click on the button itself mutes";
    QTest::mouseClick(mute, Qt::LeftButton, {}, QPoint(6, mute->height() / 2));
    EXPECT_FALSE(player().isMuted());

    bool shown = false;
    QTimer::singleShot(0, mute, [&] {
        shown = popup->isVisible() && QApplication::activePopupWidget() == mute->menu();
        // Dragged to the bottom by the user: silent.
        const QRect groove = popup->rect();
        QTest::mousePress(popup, Qt::LeftButton, {}, QPoint(groove.center().x(), groove.bottom() - 2));
        QTest::mouseRelease(popup, Qt::LeftButton, {}, QPoint(groove.center().x(), groove.bottom() - 2));
        popup->triggerAction(QAbstractSlider::SliderToMinimum);
        mute->menu()->close();
    });
    mute->showMenu();
    EXPECT_TRUE(shown);
    EXPECT_EQ(player().volume(), 0);
    EXPECT_EQ(symbol(mute), "speaker.slash.fill");

    // A volume set elsewhere reaches both sliders; the wide bar has no menu on the button.
    player().setVolume(0.25);
    EXPECT_EQ(popup->value(), 250);
    bar->setFixedWidth(1000);
    QCoreApplication::processEvents();
    EXPECT_EQ(mute->menu(), nullptr);
    EXPECT_TRUE(bar->volumeSlider()->isVisible());
    EXPECT_EQ(bar->volumeSlider()->value(), 250);
}
