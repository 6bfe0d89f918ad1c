#include "roadloom/ui/ShellHarness.h"

#include "fixtures/Screenshot.h"
#include "roadloom/ui/detail/DetailView.h"
#include "roadloom/ui/detail/VideoStage.h"
#include "roadloom/ui/library/CategoryChips.h"
#include "roadloom/ui/shell/DropOverlay.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QPushButton>
#include <QRegularExpression>

#include <QSplitter>

using namespace AppHarness;
using namespace ShellHarness;
using TestSupport::waitFor;

namespace {

class MainWindowScreenshotTest : public ShellTest {
protected:
    void SetUp() override
    {
        if (!Screenshot::available())
            GTEST_SKIP() << "screenshots run under xvfb-run (ctest roadloom_ui_screenshots_xvfb)";
        Screenshot::prepare();
    }
    // The main window playing a recording (drawn black by the scripted players).
    MainWindow &window()
    {
        const DashClip first = recording("REC_A", at(1));
        makeApp({first, recording("REC_B", at(2))});
        MainWindow &main = openMain();
        model->library().setSelectedClipID(first.id);
        EXPECT_TRUE(waitFor([&] { return model->player().clip().has_value(); }));
        return main;
    }
    static bool isBlack(const QColor &c) { return c.lightness() < 20; }
};

TEST_F(MainWindowScreenshotTest, ColumnsMeetAtTheirIdealWidths)
{
    MainWindow &main = window();
    const QPalette palette = Screenshot::palette(Screenshot::Appearance::light);
    for (const QSize &size : {Screenshot::large, Screenshot::small}) {
        SCOPED_TRACE(size.width());
        const QImage image =
            Screenshot::capture(&main, size, QStringLiteral("main-window-%1").arg(size.width()));
        const int y = size.height() / 2;
        const int handle = main.columns()->handleWidth();
        const int sidebarEnd = MainWindow::sidebarWidths.ideal;
        const int listStart = sidebarEnd + handle;
        const int listEnd = listStart + MainWindow::clipListWidths.ideal;
        const QColor base = palette.color(QPalette::Base);
        // The two lists fill their columns up to the borders; the player column beyond is black.
        EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {sidebarEnd - 3, y}), base));
        EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {listStart + 3, y}), base));
        EXPECT_TRUE(Screenshot::near(Screenshot::sample(image, {listEnd - 3, y}), base));
        // The stage's middle: the transport bar lies under it.
        ASSERT_NE(main.detailView(), nullptr);
        const QWidget *stage = main.detailView()->stage();
        const int stageY = stage->mapTo(&main, QPoint(0, stage->height() / 2)).y();
        EXPECT_TRUE(isBlack(Screenshot::sample(image, {listEnd + handle + 3, stageY})));
        EXPECT_TRUE(isBlack(Screenshot::sample(image, {size.width() - 3, stageY})));
        // Between them lies the handle, which is not the lists' colour.
        if (handle > 0) {
            EXPECT_FALSE(Screenshot::near(Screenshot::sample(image, {sidebarEnd + handle / 2, y}), base, 2));
            EXPECT_FALSE(Screenshot::near(Screenshot::sample(image, {listEnd + handle / 2, y}), base, 2));
        }
    }
}

TEST_F(MainWindowScreenshotTest, TheDropFrameLiesSixPixelsInsideTheEdge)
{
    MainWindow &main = window();
    // No selected source, so no selection is drawn in the sidebar near its edge.
    model->library().setSelectedSourceID(std::nullopt);
    main.dropOverlay()->show();
    const QImage image = Screenshot::capture(&main, Screenshot::small, QStringLiteral("main-window-drop"));
    const QColor accent = Palette::accent(Screenshot::palette(Screenshot::Appearance::light));
    const int h = image.height(), w = image.width();
    // Along the left edge (over the sources) and the right edge (over the video): dashes on the line from 6
    // to 9 pixels in, none beside it.
    for (int x : {7, w - 8}) {
        SCOPED_TRACE(x);
        const QRect line(x, 40, 1, h - 80);
        const int on = Screenshot::count(image, line, accent, 40);
        EXPECT_NEAR(double(on) / line.height(), 10.0 / 16, 0.1);
    }
    // Below the menu bar, the toolbar and the selected rows, whose highlight is near the accent.
    EXPECT_EQ(Screenshot::count(image, QRect(0, 120, 5, h - 160), accent, 40), 0);
    EXPECT_EQ(Screenshot::count(image, QRect(11, 120, 4, h - 160), accent, 40), 0);
    EXPECT_GT(Screenshot::count(image, QRect(40, 7, w - 80, 1), accent, 40), (w - 80) / 2);
    EXPECT_GT(Screenshot::count(image, QRect(40, h - 8, w - 80, 1), accent, 40), (w - 80) / 2);
}

TEST_F(MainWindowScreenshotTest, TheaterModeLeavesOnlyThePlayer)
{
    MainWindow &main = window();
    Screenshot::capture(&main, Screenshot::large, QStringLiteral("main-window-before-theater"));
    model->setTheaterMode(true);
    ASSERT_TRUE(waitFor([&] { return !main.isAnimatingTheater(); }));
    const QImage image = Screenshot::capture(&main, Screenshot::large, QStringLiteral("main-window-theater"));
    const int y = image.height() / 2;
    for (int x : {3, 100, MainWindow::sidebarWidths.ideal + 100, 600, image.width() - 3})
        EXPECT_TRUE(isBlack(Screenshot::sample(image, {x, y}))) << x;

    model->setTheaterMode(false);
    ASSERT_TRUE(waitFor([&] { return !main.isAnimatingTheater(); }));
    const QImage back =
        Screenshot::capture(&main, Screenshot::large, QStringLiteral("main-window-after-theater"));
    EXPECT_TRUE(Screenshot::near(Screenshot::sample(back, {100, y}),
                                 Screenshot::palette(Screenshot::Appearance::light).color(QPalette::Base)));
}

// At the least size with the inspector open, a long file name is shortened in its middle with the whole
// name in its tooltip, and each category chip is drawn whole or not at all.
TEST_F(MainWindowScreenshotTest, AtTheLeastSizeNamesAreShortenedAndChipsWhole)
{
    const ClipCategory categories[] = {ClipCategory::continuous, ClipCategory::event,
                                       ClipCategory::manual,     ClipCategory::parking,
                                       ClipCategory::motion,     ClipCategory::timelapse};
    QList<DashClip> clips;
    for (int i = 0; i < 6; ++i) {
        DashClip clip = recording(QStringLiteral("REC_2024_04_30_09_1%1_00").arg(i + 1), at(i + 1));
        clip.category = categories[i];
        clips.append(clip);
    }
    makeApp(clips);
    MainWindow &main = openMain();
    model->setShowInspector(true);
    model->library().setSelectedClipID(clips[0].id);
    ASSERT_TRUE(waitFor([&] { return model->player().clip().has_value(); }));
    const QImage image =
        Screenshot::capture(&main, Screenshot::small, QStringLiteral("main-window-inspector"));

    auto *name = main.findChild<QPushButton *>(QStringLiteral("revealFile"));
    ASSERT_NE(name, nullptr);
    const QString shown = name->text();
    EXPECT_TRUE(QRegularExpression("^REC_2024.*\u2026.*_F\\.mp4$").match(shown).hasMatch())
        << shown.toStdString();
    EXPECT_LE(name->fontMetrics().horizontalAdvance(shown), name->width());
    EXPECT_TRUE(name->toolTip().contains(QStringLiteral("REC_2024_04_30_09_11_00_F.mp4")));

    auto *strip = main.findChild<CategoryChips *>();
    ASSERT_NE(strip, nullptr);
    const QRect visible(strip->viewport()->mapTo(&main, QPoint(0, 0)), strip->viewport()->size());
    const QColor ground = Screenshot::sample(image, visible.topLeft() + QPoint(3, visible.height() / 2));
    const auto drawn = [&](const QColor &c) { return !Screenshot::near(c, ground, 6); };
    int whole = 0, left = 0;
    for (CategoryChip *chip : strip->chips()) {
        const QRect r(chip->mapTo(&main, QPoint(0, 0)), chip->size());
        const QRect seen = r & visible;
        if (seen.isEmpty())
            continue;
        SCOPED_TRACE(chip->title().toStdString());
        EXPECT_EQ(chip->isWhole(), visible.contains(r));
        if (visible.contains(r)) {
            ++whole;
            // Its count, the last thing in it, is drawn.
            EXPECT_GT(Screenshot::count(image, QRect(r.right() - 20, r.top() + 3, 12, r.height() - 6), drawn),
                      3);
        } else {
            ++left;
            EXPECT_EQ(Screenshot::count(image, seen, drawn), 0) << "a cut chip is not drawn";
        }
    }
    EXPECT_GE(whole, 2);
    EXPECT_GE(left, 1) << "the strip is too narrow for every chip";
}

} // namespace
