// The transport bar under the stage on the virtual X server, light and dark: the G-sensor bars, the
// playhead, the peak marker and the controls as a user sees them.
#include "roadloom/ui/ViewHarness.h"

#include "fixtures/Screenshot.h"
#include "roadloom/model/PlayerController.h"
#include "roadloom/ui/detail/DetailView.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/detail/Scrubber.h"
#include "roadloom/ui/detail/TransportBar.h"

#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <cmath>

using namespace AppHarness;

namespace {

class TransportBarScreenshot : public ModelTest, public testing::WithParamInterface<Screenshot::Appearance> {
protected:
    void SetUp() override
    {
        ROADLOOM_REQUIRE_SCREENSHOTS();
        Screenshot::prepare(GetParam());
    }
    void TearDown() override
    {
        detail.reset();
        ModelTest::TearDown();
        Screenshot::prepare(Screenshot::Appearance::light);
    }
    std::unique_ptr<DetailView> detail;
};

} // namespace

TEST_P(TransportBarScreenshot, BarsPlayheadAndMarker)
{
    const DashClip trip = ViewHarness::twoCameras(QStringLiteral("Trip"));
    make({trip});
    // A drive with small bumps, a pothole at 12 s and a hard brake at 41 s.
    QList<SensorSample> sensor;
    for (int i = 0; i < 6000; ++i) {
        const double t = i / 100.0;
        double z = 1.0 + 0.25 * std::sin(t * 1.7) * std::sin(t * 0.31);
        if (std::abs(t - 12) < 0.2)
            z = 2.6;
        if (std::abs(t - 41) < 0.3)
            z = 3.4;
        sensor.append(SensorSample{t, 0, 0, z});
    }
    services->telemetry[trip.files.begin()->second] = Telemetry(sensor, {}, QStringLiteral("t"));
    detail = std::make_unique<DetailView>(*model);
    auto *bar = new TransportBar(*model);
    detail->setTransportBar(bar);
    load(trip);
    model->player().seek(21.5);
    model->player().setRate(1.5);
    model->player().setVolume(0.7);

    const bool dark = GetParam() == Screenshot::Appearance::dark;
    const QImage image = Screenshot::capture(detail.get(), Screenshot::small,
                                             dark ? "transport-bar-dark" : "transport-bar-light");
    ASSERT_FALSE(image.isNull());
    const QRect scrubber(bar->scrubber()->mapTo(detail.get(), QPoint(0, 0)), bar->scrubber()->size());
    const QRectF bars = bar->scrubber()->barRect().translated(scrubber.topLeft());
    const QPalette pal = bar->palette();
    const int mid = int(bars.center().y());
    const double slot = bars.width() / Scrubber::binCount;
    auto barX = [&](int bin) { return int(bars.left() + slot * bin + 1); };
    // The pothole (played) and the brake (not yet played) are red; played bars accent, later ones grey.
    EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {barX(36), mid}), Palette::red(pal), 40));
    EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {barX(123), mid}), Palette::red(pal), 40));
    EXPECT_GT(Screenshot::count(image, QRect(int(bars.left()), int(bars.top()), int(slot * 60), 30),
                                Palette::accent(pal), 40),
              60);
    const int head = int(bars.left() + bars.width() * 21.5 / 60);
    EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {head, int(bars.top()) - 2}),
                                 pal.color(QPalette::WindowText), 40));
    // The marker sits over the brake.
    EXPECT_GT(
        Screenshot::count(image, QRect(barX(123) - 6, int(bars.top()) - 8, 12, 8), Palette::red(pal), 60), 4);
}

// Across the band where the row turns narrow, each control stands on the bar's own ground with a gap of it
// to the next one, and the mute button gains its volume arrow exactly when the slider goes.
TEST_P(TransportBarScreenshot, NoControlsOverlapAcrossTheNarrowBand)
{
    const DashClip trip = ViewHarness::twoCameras(QStringLiteral("Trip"));
    make({trip});
    detail = std::make_unique<DetailView>(*model);
    auto *bar = new TransportBar(*model);
    detail->setTransportBar(bar);
    load(trip);
    const bool dark = GetParam() == Screenshot::Appearance::dark;
    const QColor ground = bar->palette().color(QPalette::Window);
    for (int width : {620, 660, 690, 700, 720, 760}) {
        SCOPED_TRACE(width);
        const QImage image = Screenshot::capture(
            detail.get(), QSize(width, 480),
            QStringLiteral("transport-bar-%1-%2").arg(width).arg(dark ? "dark" : "light"));
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(bar->volumeSlider()->isVisible(), bar->muteButton()->menu() == nullptr);
        QList<QRect> row;
        for (QWidget *w : std::initializer_list<QWidget *>{
                 bar->timeLabel(), bar->previousButton(), bar->backButton(), bar->previousFrameButton(),
                 bar->playButton(), bar->nextFrameButton(), bar->forwardButton(), bar->nextButton(),
                 bar->speedButton(), bar->muteButton(), bar->volumeSlider(), bar->optionsButton()})
            if (w->isVisible())
                row << QRect(w->mapTo(detail.get(), QPoint(0, 0)), w->size());
        std::sort(row.begin(), row.end(), [](const QRect &a, const QRect &b) { return a.left() < b.left(); });
        for (int i = 0; i + 1 < row.size(); ++i) {
            ASSERT_LT(row[i].right(), row[i + 1].left()) << i;
            const QPoint gap((row[i].right() + row[i + 1].left() + 1) / 2, row[i].center().y());
            EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, gap), ground, 6)) << i;
        }
        EXPECT_LT(row.last().right(), width);
    }
}

INSTANTIATE_TEST_SUITE_P(Appearances, TransportBarScreenshot,
                         testing::Values(Screenshot::Appearance::light, Screenshot::Appearance::dark));
