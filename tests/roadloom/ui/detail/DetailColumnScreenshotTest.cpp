// The detail column of the real main window at its first size with the inspector and at its smallest, and
// the deck at the width where its cards reach their least widths: no card over another, every card's control
// whole, the volume within reach, and the vehicle clear of the map's controls.
#include "roadloom/ui/ShellHarness.h"

#include "fixtures/LocalOnlyNetwork.h"
#include "fixtures/Screenshot.h"
#include "roadloom/ui/deck/MapPanel.h"
#include "roadloom/ui/deck/SensorChart.h"
#include "roadloom/ui/deck/SensorPanel.h"
#include "roadloom/ui/deck/SpeedDial.h"
#include "roadloom/ui/deck/SpeedPanel.h"
#include "roadloom/ui/deck/TelemetryDeck.h"
#include "roadloom/ui/detail/DetailView.h"
#include "roadloom/ui/detail/TransportBar.h"
#include "roadloom/ui/detail/VideoHUD.h"
#include "roadloom/ui/detail/VideoStage.h"
#include "roadloom/ui/widgets/SegmentedControl.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cmath>

using namespace AppHarness;
using namespace ShellHarness;
using TestSupport::waitFor;

namespace {

// A minute of driving north-east, so the route starts in a corner of its box, with a G-sensor trace.
Telemetry cornerDrive()
{
    QList<GPSFix> gps;
    for (int i = 0; i <= 600; ++i) {
        GPSFix fix;
        fix.time = i * 0.1;
        fix.latitude = 48.137 + i * 0.00001;
        fix.longitude = 11.575 + i * 0.000015 + 0.0004 * std::sin(i / 60.0);
        fix.speedKnots = 30;
        fix.course = 45;
        gps.append(fix);
    }
    QList<SensorSample> sensor;
    for (int i = 0; i < 600; ++i) {
        const double t = i / 10.0;
        sensor.append({t, -1.25 + 0.1 * std::sin(t), 0.35 * std::cos(t / 4), 1.0 + 0.04 * std::sin(t * 5)});
    }
    return Telemetry(std::move(sensor), std::move(gps), QStringLiteral("test"));
}

class DetailColumnScreenshot : public ShellTest {
protected:
    LocalOnlyNetwork network{dir.filePath("tiles")};

    void SetUp() override
    {
        ROADLOOM_REQUIRE_SCREENSHOTS();
        Screenshot::prepare();
        MapTileLoader::setStandardNetwork(&network);
    }
    void TearDown() override
    {
        ShellTest::TearDown();
        MapTileLoader::setStandardNetwork(nullptr);
    }
    // The main window playing a recording with GPS and G-sensor data, at its start.
    MainWindow &window(bool inspector, const QSize &size)
    {
        const DashClip drive = recording("REC_A", at(1));
        services->telemetry[drive.files.begin()->second] = cornerDrive();
        makeApp({drive});
        model->setShowInspector(inspector);
        MainWindow &main = openMain();
        // The detail area is built once the window has shown itself.
        main.resize(size);
        main.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&main));
        model->library().setSelectedClipID(drive.id);
        EXPECT_TRUE(waitFor([&] { return front().hasFile(); }));
        front().fireReady(facts());
        EXPECT_TRUE(waitFor([&] { return model->player().telemetry().hasGPS(); }));
        return main;
    }
    static QRect in(const QWidget *widget, const QWidget *window)
    {
        return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
    }
    // Pixels of text (darker than the window's grey) inside a widget.
    static int inked(const QImage &image, const QRect &rect)
    {
        return Screenshot::count(image, rect, [](const QColor &c) { return c.lightness() < 110; });
    }

    // What a user must see in the deck: the ground between the cards, each card's control inside its card,
    // the zoom buttons and the vehicle clear of the scale.
    void checkDeck(const QImage &image, const TelemetryDeck &deck, const QWidget *window)
    {
        const QPalette palette = Screenshot::palette(Screenshot::Appearance::light);
        const QColor cardColor = palette.color(QPalette::Window);
        const QWidget *cards[] = {deck.mapPanel(), deck.speedPanel(), deck.sensorPanel()};
        const QRect deckRect = in(&deck, window);
        EXPECT_TRUE(image.rect().contains(deckRect));
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            const QRect card = in(cards[i], window);
            EXPECT_TRUE(deckRect.contains(card));
            // The outline's inside at both ends of the card, and the deck's darker ground just beyond.
            const int y = card.center().y();
            EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {card.left() + 3, y}), cardColor, 3));
            EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {card.right() - 3, y}), cardColor, 3));
            EXPECT_LT(Screenshot::sample(image, {card.right() + 3, y}).lightness(), cardColor.lightness());
            EXPECT_LT(Screenshot::sample(image, {card.left() - 3, y}).lightness(), cardColor.lightness());
        }
        const QRect map = in(cards[0], window), speed = in(cards[1], window), sensor = in(cards[2], window);
        const auto wholeIn = [&](const QWidget *control, const QRect &card) {
            const QRect r = in(control, window);
            EXPECT_TRUE(control->isVisible());
            EXPECT_TRUE(card.adjusted(Card::padding, 0, -Card::padding, 0).contains(r))
                << r.x() << "+" << r.width() << " in " << card.x() << "+" << card.width();
            EXPECT_GT(inked(image, r), 10) << "drawn, not covered";
        };
        wholeIn(deck.mapPanel()->followButton(), map);
        wholeIn(deck.mapPanel()->styleMenu(), map);
        wholeIn(deck.speedPanel()->unitPicker(), speed);
        wholeIn(deck.speedPanel()->dial(), speed);
        for (QLabel *value : deck.sensorPanel()->findChildren<QLabel *>())
            if (value->text().startsWith('+') || value->text().startsWith('-'))
                wholeIn(value, sensor);

        // The zoom stepper's white face beside its plus, inside the map card.
        const SlippyMap *slippy = deck.mapPanel()->map();
        const QRect stepper = slippy->zoomInButton().translated(slippy->mapTo(window, QPoint(0, 0)));
        EXPECT_TRUE(map.contains(stepper));
        EXPECT_GT(Screenshot::sample(image, stepper.center() + QPoint(8, 8)).lightness(), 235);
        // The vehicle's blue disc at the route's start, clear of the scale and the attribution.
        const auto fix = model->player().telemetry().gpsAt(model->player().currentTime());
        ASSERT_TRUE(fix.has_value());
        const QPoint vehicle =
            slippy->mapTo(window, slippy->pointFor({fix->latitude, fix->longitude}).toPoint());
        const QColor disc = Screenshot::sample(image, vehicle + QPoint(0, 10));
        EXPECT_GT(disc.blue(), disc.red() + 80) << disc.name().toStdString();
        for (const QRectF &control : slippy->controlRects()) {
            const QRect r = control.toAlignedRect().translated(slippy->mapTo(window, QPoint(0, 0)));
            EXPECT_FALSE(r.intersects(QRect(vehicle - QPoint(14, 14), QSize(28, 28))));
        }
    }
};

TEST_F(DetailColumnScreenshot, FirstSizeWithTheInspector)
{
    MainWindow &main = window(true, Screenshot::large);
    const QImage image =
        Screenshot::capture(&main, Screenshot::large, QStringLiteral("detail-column-1440-inspector"));
    auto *deck = main.findChild<TelemetryDeck *>();
    ASSERT_NE(deck, nullptr);
    EXPECT_LT(deck->width(), TelemetryDeck::fullWidth) << "the case this test is for";
    checkDeck(image, *deck, &main);
    // The transport bar gives the volume a place: its slider, or the mute button's menu.
    auto *bar = main.findChild<TransportBar *>();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->volumeSlider()->isVisible() || bar->muteButton()->menu() != nullptr);
}

TEST_F(DetailColumnScreenshot, SmallestWindow)
{
    MainWindow &main = window(false, Screenshot::small);
    const QImage image = Screenshot::capture(&main, Screenshot::small, QStringLiteral("detail-column-1000"));
    auto *deck = main.findChild<TelemetryDeck *>();
    ASSERT_NE(deck, nullptr);
    checkDeck(image, *deck, &main);

    // Too narrow for the slider: the mute button's arrow opens a vertical one.
    auto *bar = main.findChild<TransportBar *>();
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(bar->isCompact());
    QToolButton *mute = bar->muteButton();
    ASSERT_NE(mute->menu(), nullptr);
    QImage open;
    QTimer::singleShot(300, mute, [&] {
        const QRect popup(bar->popupVolumeSlider()->mapTo(&main, QPoint(0, 0)),
                          bar->popupVolumeSlider()->size());
        QScreen *screen = main.screen();
        open = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
        open.save(Screenshot::folder() + QStringLiteral("/detail-column-1000-volume.png"));
        EXPECT_TRUE(bar->popupVolumeSlider()->isVisible());
        EXPECT_GT(popup.height(), 60);
        mute->menu()->close();
    });
    mute->showMenu();
    ASSERT_FALSE(open.isNull());
}

// The smallest window with the inspector: the side columns have given way to their minimums, and the detail
// column left is narrow enough that the transport bar and the deck stack, every control apart and every card
// in view, and the readout over the video stays inside the stage.
TEST_F(DetailColumnScreenshot, SmallestWindowWithTheInspector)
{
    MainWindow &main = window(true, Screenshot::small);
    QImage image =
        Screenshot::capture(&main, Screenshot::small, QStringLiteral("detail-column-1000-inspector"));
    EXPECT_EQ(main.sidebarColumn()->width(), MainWindow::sidebarWidths.minimum);
    EXPECT_EQ(main.clipListColumn()->width(), MainWindow::clipListWidths.minimum);
    EXPECT_EQ(main.inspectorColumn()->width(), MainWindow::inspectorWidths.minimum);
    EXPECT_GE(main.detailColumn()->width(), main.detailLeastWidth());
    EXPECT_GE(main.detailColumn()->width(), 250);

    // Each control of the bar inked, and the bar's own ground in the middle of every gap between two
    // neighbours of a row: nothing drawn over anything else.
    auto *bar = main.findChild<TransportBar *>();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isStacked());
    const QRect barRect = in(bar, &main);
    EXPECT_TRUE(in(main.detailColumn(), &main).contains(barRect));
    const QColor ground = Screenshot::sample(image, barRect.topLeft() + QPoint(4, barRect.height() - 4));
    const QList<QList<QWidget *>> rows = {
        {bar->timeLabel(), bar->speedButton(), bar->muteButton(), bar->optionsButton()},
        {bar->previousButton(), bar->backButton(), bar->playButton(), bar->forwardButton(),
         bar->nextButton()}};
    for (const QList<QWidget *> &row : rows) {
        for (int i = 0; i < row.size(); ++i) {
            SCOPED_TRACE(row[i]->metaObject()->className() + std::to_string(i));
            const QRect r = in(row[i], &main);
            ASSERT_TRUE(row[i]->isVisible());
            EXPECT_TRUE(barRect.contains(r));
            EXPECT_GT(Screenshot::count(image, r,
                                        [&](const QColor &c) { return !Screenshot::near(c, ground, 40); }),
                      6)
                << "drawn";
            if (i == 0)
                continue;
            const QRect before = in(row[i - 1], &main);
            EXPECT_GT(r.left(), before.right());
            const int gap = (before.right() + r.left()) / 2;
            const int y = (std::max(before.top(), r.top()) + std::min(before.bottom(), r.bottom())) / 2;
            EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {gap, y}), ground, 6))
                << "gap at " << gap << "," << y << " is "
                << Screenshot::sample(image, {gap, y}).name().toStdString();
        }
    }
    // The two rows apart.
    EXPECT_GT(in(bar->playButton(), &main).top(), in(bar->timeLabel(), &main).bottom());

    // The deck in two rows: every card on the screen at once, whole, on its own ground, with its controls
    // drawn; nothing to scroll to.
    auto *deck = main.findChild<TelemetryDeck *>();
    ASSERT_NE(deck, nullptr);
    EXPECT_TRUE(deck->isStacked());
    for (QScrollBar *bar : deck->findChildren<QScrollBar *>())
        EXPECT_FALSE(bar->isVisible() && bar->orientation() == Qt::Horizontal) << "nothing scrolls sideways";
    const QRect deckRect = in(deck, &main);
    EXPECT_TRUE(image.rect().contains(deckRect));
    EXPECT_TRUE(in(main.detailColumn(), &main).contains(deckRect));
    const QPalette palette = Screenshot::palette(Screenshot::Appearance::light);
    const QColor cardColor = palette.color(QPalette::Window);
    const std::pair<Card *, QList<QWidget *>> cards[] = {
        {deck->mapPanel(), {deck->mapPanel()->followButton(), deck->mapPanel()->styleMenu()}},
        {deck->speedPanel(), {deck->speedPanel()->unitPicker(), deck->speedPanel()->dial()}},
        {deck->sensorPanel(), {deck->sensorPanel()->chart()}}};
    for (const auto &[card, controls] : cards) {
        SCOPED_TRACE(card->title().toStdString());
        const QRect cardRect = in(card, &main);
        EXPECT_TRUE(deckRect.contains(cardRect));
        const int y = cardRect.center().y();
        EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {cardRect.left() + 3, y}), cardColor, 3));
        EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {cardRect.right() - 3, y}), cardColor, 3));
        EXPECT_LT(Screenshot::sample(image, {cardRect.right() + 3, y}).lightness(), cardColor.lightness());
        EXPECT_LT(Screenshot::sample(image, {cardRect.center().x(), cardRect.bottom() + 3}).lightness(),
                  cardColor.lightness());
        for (QWidget *control : controls) {
            const QRect r = in(control, &main);
            EXPECT_TRUE(control->isVisible());
            EXPECT_TRUE(cardRect.adjusted(Card::padding, 0, -Card::padding, 0).contains(r))
                << r.x() << "+" << r.width() << " in " << cardRect.x() << "+" << cardRect.width();
            EXPECT_GT(inked(image, r), 10) << "drawn, not covered";
        }
    }
    // The dial large enough to read, its number whole inside its ring.
    EXPECT_GE(deck->speedPanel()->dial()->width(), 56);
    for (QLabel *value : deck->sensorPanel()->findChildren<QLabel *>())
        if (value->text().startsWith('+') || value->text().startsWith('-')) {
            const QRect r = in(value, &main);
            EXPECT_TRUE(value->isVisible());
            EXPECT_TRUE(
                in(deck->sensorPanel(), &main).adjusted(Card::padding, 0, -Card::padding, 0).contains(r));
            EXPECT_GT(inked(image, r), 10);
        }

    // The readout over the video: in rows, inside the stage with its margin.
    VideoHUD *hud = main.detailView()->stage()->hud();
    ASSERT_TRUE(hud->isVisible());
    ASSERT_TRUE(hud->readout().gForce.has_value());
    const QRect stage = in(main.detailView()->stage(), &main);
    const QRect readout = in(hud, &main);
    EXPECT_TRUE(stage.adjusted(10, 10, -10, -10).contains(readout))
        << readout.x() << "+" << readout.width() << " in " << stage.x() << "+" << stage.width();
    // Its figures on the screen where it lies, light on the dark capsule over the black stage.
    EXPECT_GT(hud->arrangement().rows.size(), 1);
    EXPECT_GT(Screenshot::count(image, readout, [](const QColor &c) { return c.lightness() > 200; }), 40);
}

TEST_F(DetailColumnScreenshot, DeckAtItsDesignedLeastWidth)
{
    MainWindow &main = window(false, Screenshot::large);
    for (int width : {TelemetryDeck::fullWidth - 1, TelemetryDeck::fullWidth}) {
        SCOPED_TRACE(width);
        // The side columns fixed, the window wide enough for a deck of exactly this width.
        auto *deck = main.findChild<TelemetryDeck *>();
        ASSERT_NE(deck, nullptr);
        const QSize first = Screenshot::large;
        Screenshot::capture(&main, first, QStringLiteral("detail-column-probe"));
        const int extra = first.width() - deck->width();
        const QImage image = Screenshot::capture(&main, QSize(width + extra, 800),
                                                 QStringLiteral("detail-column-deck-%1").arg(width));
        ASSERT_EQ(deck->width(), width);
        checkDeck(image, *deck, &main);
        if (width == TelemetryDeck::fullWidth) {
            EXPECT_EQ(deck->mapPanel()->width(), MapPanel::minimumWidth);
            EXPECT_EQ(deck->speedPanel()->width(), SpeedPanel::fixedWidth);
            EXPECT_EQ(deck->sensorPanel()->width(), SensorPanel::minimumWidth);
            EXPECT_EQ(deck->mapPanel()->header(), Card::Header::full);
            EXPECT_EQ(deck->speedPanel()->header(), Card::Header::full);
            EXPECT_EQ(deck->sensorPanel()->header(), Card::Header::full);
        }
    }
}

} // namespace
