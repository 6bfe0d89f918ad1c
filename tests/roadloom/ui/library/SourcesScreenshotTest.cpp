#include "roadloom/ui/ShellHarness.h"

#include "fixtures/Screenshot.h"
#include "roadloom/ui/library/CategoryChips.h"
#include "roadloom/ui/library/ClipListModel.h"
#include "roadloom/ui/library/ClipListView.h"
#include "roadloom/ui/library/ClipRowDelegate.h"
#include "roadloom/ui/library/SidebarView.h"
#include "roadloom/ui/library/ToastView.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QFile>
#include <QLabel>
#include <QListView>

using namespace AppHarness;
using namespace ShellHarness;
using TestSupport::waitFor;

namespace {

class SourcesScreenshotTest : public ShellTest {
protected:
    void SetUp() override
    {
        if (!Screenshot::available())
            GTEST_SKIP() << "screenshots run under xvfb-run (ctest roadloom_ui_screenshots_xvfb)";
        Screenshot::prepare();
    }
    // A card of recordings of four categories whose files exist; the first has its backup copy.
    MainWindow &window()
    {
        EXPECT_TRUE(QDir().mkpath(card()));
        QList<DashClip> clips;
        const ClipCategory categories[] = {ClipCategory::continuous, ClipCategory::event,
                                           ClipCategory::parking, ClipCategory::manual, ClipCategory::event};
        int minute = 0;
        for (ClipCategory category : categories) {
            const QString name = QString("%1_%2").arg(rawValue(category)).arg(++minute);
            const QString file = card() + "/" + name + "_F.mp4";
            QFile(file).open(QIODevice::WriteOnly);
            DashClip clip = recording(name, at(minute), {{Channel::front, file}});
            clip.id = file;
            clip.category = category;
            clips.append(clip);
        }
        makeApp(clips);
        MainWindow &main = openMain();
        const DashClip &first = model->library().clips().last();
        model->library().markCached(first.catalogKey(), Channel::front);
        return main;
    }
    template <class T> static T *find(QWidget &window) { return window.findChild<T *>(); }
    static QRect inWindow(QWidget *widget, const QRect &rect, QWidget &window)
    {
        return QRect(widget->mapTo(&window, rect.topLeft()), rect.size());
    }
};

TEST_F(SourcesScreenshotTest, ChipsTilesShieldAndToastAreDrawnInTheirColours)
{
    MainWindow &main = window();
    const QPalette palette = Screenshot::palette(Screenshot::Appearance::light);
    ClipListView *list = find<ClipListView>(main);
    ASSERT_NE(list, nullptr);
    CategoryChip *eventChip = nullptr;
    for (CategoryChip *chip : list->chips()->chips())
        if (chip->category() == ClipCategory::event)
            eventChip = chip;
    ASSERT_NE(eventChip, nullptr);
    model->library().setCategoryFilter(std::nullopt);
    model->show("Snapshot saved", "camera.fill", dir.filePath("snap.png"));

    for (const QSize &size : {Screenshot::large, Screenshot::small}) {
        SCOPED_TRACE(size.width());
        QImage image = Screenshot::capture(&main, size, QStringLiteral("sources-%1").arg(size.width()));
        ASSERT_TRUE(waitFor([&] { return !main.toastView()->isAnimating(); }));
        image = Screenshot::capture(&main, size, QStringLiteral("sources-%1").arg(size.width()));

        // The "All" chip is selected: white on the accent; the others sit on the faint fill.
        CategoryChip *all = list->chips()->chips().first();
        const QRect allRect = inWindow(all, all->rect(), main);
        EXPECT_GT(Screenshot::count(image, allRect, Palette::accent(palette), 40),
                  allRect.width() * allRect.height() / 3);
        const QRect eventRect = inWindow(eventChip, eventChip->rect(), main);
        EXPECT_EQ(Screenshot::count(image, eventRect, Palette::red(palette), 40), 0);

        // Each row's tile carries its category's tint; the cached recording shows the green shield.
        QListView *view = list->list();
        ClipListModel *rows = list->clipModel();
        auto *delegate = static_cast<ClipRowDelegate *>(view->itemDelegate());
        int tiles = 0, shields = 0;
        for (int row = 0; row < rows->rowCount(); ++row) {
            const DashClip *clip = rows->clip(row);
            if (!clip)
                continue;
            const QRect rect = view->visualRect(rows->index(row));
            const QRect tile =
                inWindow(view->viewport(), QRect(rect.left() + 16, rect.top() + 8, 30, 30), main);
            const QColor tint = Palette::tint(clip->category, palette);
            EXPECT_GT(Screenshot::count(image, tile, tint, 40), 300) << clip->name.toStdString();
            ++tiles;
            const QRect badge = delegate->badgeRect(rect, *clip);
            if (!badge.isEmpty()) {
                EXPECT_GT(Screenshot::count(image, inWindow(view->viewport(), badge, main),
                                            Palette::green(palette), 60),
                          10);
                ++shields;
            }
        }
        EXPECT_EQ(tiles, 5);
        EXPECT_EQ(shields, 1);

        // The toast: a capsule of the window colour 24 px above the bottom, in the middle of the window.
        ToastView *toast = main.toastView();
        ASSERT_TRUE(toast->isVisible());
        const QRect capsule = toast->geometry().adjusted(ToastView::shadowMargin, ToastView::shadowMargin / 2,
                                                         -ToastView::shadowMargin, -ToastView::shadowMargin);
        EXPECT_EQ(capsule.bottom() + 1, size.height() - ToastView::bottomSpace);
        EXPECT_NEAR(capsule.center().x(), size.width() / 2, 2);
        const QColor fill =
            Screenshot::sample(image, {capsule.left() + capsule.height() / 2, capsule.top() + 3});
        EXPECT_GT(fill.lightness(), 180) << "the capsule in the window colour";
    }

    // The shadow: drawn under the capsule, in black at low opacity.
    ToastView *toast = main.toastView();
    const QImage banner = toast->grab().toImage();
    const int below = banner.height() - ToastView::shadowMargin + 2;
    const QColor shadow = banner.pixelColor(banner.width() / 2, below);
    EXPECT_GT(shadow.alpha(), 5);
    EXPECT_LT(shadow.alpha(), 90);
    EXPECT_LT(shadow.lightness(), 60);
    EXPECT_EQ(banner.pixelColor(1, 1).alpha(), 0) << "the corners stay clear";
}

// A banner is as wide as its text up to the window's width and as tall as all its lines: a short message on
// one line, an error of a full disk whole, at the first size and at the minimum one.
TEST_F(SourcesScreenshotTest, ToastsAreAsWideAsTheirTextAndShowEveryLine)
{
    MainWindow &main = window();
    const QString messages[] = {
        "No GPS or G-sensor data in this clip",
        "Couldn\u2019t save \u201CREC_2025_03_01_08_00_00_F 0:12.3 front camera snapshot.png\u201D: No space "
        "left on device",
        "The folder \u201C/home/driver/Pictures/Roadloom/Snapshots of the long drive to the coast in the "
        "summer "
        "of 2025/front camera/stills\u201D couldn\u2019t be created: No space left on device",
    };
    for (const QString &message : messages) {
        model->show(message, "exclamationmark.triangle.fill");
        for (const QSize &size : {Screenshot::large, Screenshot::small}) {
            SCOPED_TRACE(QStringLiteral("%1 at %2").arg(message.left(12)).arg(size.width()).toStdString());
            Screenshot::capture(&main, size, "toast");
            ASSERT_TRUE(waitFor([&] { return !main.toastView()->isAnimating(); }));
            const QImage image = Screenshot::capture(
                &main, size, QStringLiteral("toast-%1-%2").arg(message.size()).arg(size.width()));
            ToastView *toast = main.toastView();
            ASSERT_TRUE(toast->isVisible());
            const QRect capsule =
                toast->geometry().adjusted(ToastView::shadowMargin, ToastView::shadowMargin / 2,
                                           -ToastView::shadowMargin, -ToastView::shadowMargin);
            EXPECT_GE(capsule.left(), 0);
            EXPECT_LE(capsule.right(), size.width());
            QLabel *label = toast->messageLabel();
            const QFontMetrics metrics = label->fontMetrics();
            const int lines = (label->height() + metrics.leading()) / metrics.lineSpacing();
            if (metrics.horizontalAdvance(message) < size.width() - 200) {
                EXPECT_EQ(lines, 1) << "room for the message on one line";
            }
            EXPECT_EQ(label->height(), label->heightForWidth(label->width())) << "every line of the message";
            if (metrics.horizontalAdvance(message) > size.width()) {
                EXPECT_GE(lines, 2) << "wrapped to the window";
            }
            const QRect text(label->mapTo(&main, QPoint(0, 0)), label->size());
            EXPECT_TRUE(capsule.contains(text)) << "the text inside the capsule";
            // Ink in the message's last line, inside the capsule.
            const QRect lastLine(text.left(), text.bottom() - metrics.height() + 3, text.width() / 2,
                                 metrics.height() - 6);
            EXPECT_GT(Screenshot::count(image, lastLine, [](const QColor &c) { return c.lightness() < 100; }),
                      10);
        }
    }
}

TEST_F(SourcesScreenshotTest, ASelectedChipTakesItsCategoryTint)
{
    MainWindow &main = window();
    const QPalette palette = Screenshot::palette(Screenshot::Appearance::light);
    ClipListView *list = find<ClipListView>(main);
    model->library().setCategoryFilter(ClipCategory::parking);
    CategoryChip *parking = nullptr;
    for (CategoryChip *chip : list->chips()->chips())
        if (chip->category() == ClipCategory::parking)
            parking = chip;
    ASSERT_NE(parking, nullptr);
    const QImage image =
        Screenshot::capture(&main, Screenshot::small, QStringLiteral("sources-parking-chip"));
    const QRect rect = inWindow(parking, parking->rect(), main);
    EXPECT_GT(Screenshot::count(image, rect, Palette::teal(palette), 40), rect.width() * rect.height() / 3);
    // White text on it.
    EXPECT_GT(Screenshot::count(image, rect, Qt::white, 30), 10);
    EXPECT_EQ(list->clipModel()->rowCount(), 2) << "one day header and the parking recording";
}

} // namespace
