#include "roadloom/ui/ShellHarness.h"

#include "fixtures/Screenshot.h"
#include "roadloom/ui/detail/DetailView.h"
#include "roadloom/ui/detail/VideoStage.h"
#include "roadloom/ui/library/CategoryChips.h"
#include "roadloom/ui/shell/DropOverlay.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>

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
    // A recording of each of the six categories, the first playing.
    MainWindow &sixCategories()
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
        model->library().setSelectedClipID(clips[0].id);
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
// name in its tooltip.
TEST_F(MainWindowScreenshotTest, AtTheLeastSizeNamesAreShortened)
{
    MainWindow &main = sixCategories();
    model->setShowInspector(true);
    Screenshot::capture(&main, Screenshot::small, QStringLiteral("main-window-inspector"));

    auto *name = main.findChild<QPushButton *>(QStringLiteral("revealFile"));
    ASSERT_NE(name, nullptr);
    const QString shown = name->text();
    EXPECT_TRUE(QRegularExpression("^REC_2024.*\u2026.*_F\\.mp4$").match(shown).hasMatch())
        << shown.toStdString();
    EXPECT_LE(name->fontMetrics().horizontalAdvance(shown), name->width());
    EXPECT_TRUE(name->toolTip().contains(QStringLiteral("REC_2024_04_30_09_11_00_F.mp4")));
}

// At the first and the least size the six categories' chips do not fit their column: a chip at the edge is
// drawn cut, under a fade on the side where more chips lie and only there; at the strip's end the last chip
// is whole.
TEST_F(MainWindowScreenshotTest, ChipsThatDoNotFitAreCutUnderAFadeWhereMoreLie)
{
    MainWindow &main = sixCategories();
    const QPalette palette = Screenshot::palette(Screenshot::Appearance::light);
    auto *strip = main.findChild<CategoryChips *>();
    ASSERT_NE(strip, nullptr);
    QWidget *viewport = strip->viewport();
    QScrollBar *bar = strip->horizontalScrollBar();
    const QList<CategoryChip *> chips = strip->chips();
    ASSERT_EQ(chips.size(), 7);
    const int fade = CategoryChips::fadeWidth;
    const auto inWindow = [&](QWidget *w) { return QRect(w->mapTo(&main, QPoint(0, 0)), w->size()); };
    // Shows the chip's category with the chip's left edge at `left` in the strip (or its right edge at
    // `right`), where it is cut.
    const auto place = [&](CategoryChip *chip, std::optional<int> left, std::optional<int> right) {
        model->library().setCategoryFilter(chip->category());
        const int value = left ? chip->x() - *left : chip->x() + chip->width() - *right;
        EXPECT_GE(value, bar->minimum());
        EXPECT_LE(value, bar->maximum());
        bar->setValue(value);
    };

    for (const QSize &size : {Screenshot::large, Screenshot::small}) {
        SCOPED_TRACE(size.width());
        model->library().setCategoryFilter(std::nullopt);
        QImage image =
            Screenshot::capture(&main, size, QStringLiteral("main-window-chips-%1").arg(size.width()));
        const QRect visible = inWindow(viewport);
        const int middle = visible.center().y();
        const int w = visible.width();
        const auto at = [&](int x) { return Screenshot::sample(image, {visible.left() + x, middle}); };
        const QColor ground = at(3);
        // Half into a fade a chip's fill is neither its own nor the ground.
        const auto column = [&](int x, CategoryChip *chip) {
            const QRect r = inWindow(chip);
            return QRect(visible.left() + x, r.top() + 1, 1, r.height() - 2);
        };
        const auto faded = [&](const QColor &tint) {
            return [&, tint](const QColor &c) {
                return !Screenshot::near(c, ground, 10) && !Screenshot::near(c, tint, 24);
            };
        };
        ASSERT_EQ(bar->value(), 0);
        ASSERT_GT(bar->maximum(), 0) << "every chip fits";
        {
            SCOPED_TRACE("start");
            EXPECT_FALSE(strip->showsFade(Qt::LeftEdge));
            EXPECT_TRUE(strip->showsFade(Qt::RightEdge));
            // The "All" chip's fill starts at its rounded end: nothing fades it.
            const QRect all = inWindow(chips[0]).translated(-visible.topLeft());
            EXPECT_TRUE(Screenshot::near(at(all.left() + 5), Palette::accent(palette), 40));
        }
        {
            SCOPED_TRACE("cut at the right");
            CategoryChip *manual = chips[3];
            place(manual, w - fade - 12, std::nullopt);
            image = Screenshot::capture(&main, size,
                                        QStringLiteral("main-window-chips-right-%1").arg(size.width()));
            const QColor tint = Palette::tint(ClipCategory::manual, palette);
            EXPECT_TRUE(Screenshot::near(at(w - fade - 7), tint, 40)) << "its start is drawn";
            EXPECT_TRUE(inWindow(manual).contains(visible.left() + w - 1, middle));
            EXPECT_TRUE(Screenshot::near(at(w - 1), ground, 10)) << "it fades out at the edge";
            EXPECT_GT(Screenshot::count(image, column(w - fade / 2, manual), faded(tint)), 6) << "half faded";
        }
        {
            SCOPED_TRACE("cut at the left");
            CategoryChip *event = chips[2];
            place(event, std::nullopt, fade + 12);
            image = Screenshot::capture(&main, size,
                                        QStringLiteral("main-window-chips-left-%1").arg(size.width()));
            const QColor tint = Palette::tint(ClipCategory::event, palette);
            EXPECT_TRUE(Screenshot::near(at(fade + 6), tint, 40)) << "its end is drawn";
            EXPECT_TRUE(inWindow(event).contains(visible.left(), middle));
            EXPECT_TRUE(Screenshot::near(at(0), ground, 10)) << "it fades out at the edge";
            EXPECT_GT(Screenshot::count(image, column(fade / 2, event), faded(tint)), 6) << "half faded";
        }
        {
            SCOPED_TRACE("end");
            // Choosing the last chip scrolls the strip to its end.
            CategoryChip *last = chips.last();
            model->library().setCategoryFilter(last->category());
            image = Screenshot::capture(&main, size,
                                        QStringLiteral("main-window-chips-end-%1").arg(size.width()));
            EXPECT_EQ(bar->value(), bar->maximum());
            EXPECT_TRUE(strip->showsFade(Qt::LeftEdge));
            EXPECT_FALSE(strip->showsFade(Qt::RightEdge));
            const QRect r = inWindow(last);
            EXPECT_TRUE(visible.contains(r)) << "the last chip is whole";
            // Its fill reaches its rounded end and its count is drawn in white: nothing fades it.
            const QRect end = r.translated(-visible.topLeft());
            EXPECT_TRUE(
                Screenshot::near(at(end.right() - 5), Palette::tint(ClipCategory::timelapse, palette), 40));
            const QRect count(r.right() - 20, r.top() + 3, 12, r.height() - 6);
            EXPECT_GT(Screenshot::count(image, count, Qt::white, 40), 3);
        }
    }
}

} // namespace
