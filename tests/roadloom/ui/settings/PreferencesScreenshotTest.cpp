// The settings window on screen: the ffmpeg status in green when found, in orange when not, a rejected tile
// address, and the whole window on a small laptop screen.
#include "roadloom/model/AppModelHarness.h"

#include "fixtures/Screenshot.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/widgets/ElidedLabel.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/settings/PreferencesView.h"
#include "roadloom/ui/settings/PreferencesWindow.h"
#include "roadloom/ui/widgets/SymbolLabel.h"

#include <QLabel>
#include <QScrollArea>

using namespace AppHarness;

namespace {

class PreferencesScreenshot : public ModelTest {};

TEST_F(PreferencesScreenshot, StatusColoursAndASmallScreen)
{
    ROADLOOM_REQUIRE_SCREENSHOTS();
    Screenshot::prepare();
    make({});
    const QPalette palette = Screenshot::palette(Screenshot::Appearance::light);
    struct Case {
        const char *name;
        std::optional<QString> found;
        QColor colour;
    };
    const Case cases[] = {
        {"settings-found", QStringLiteral("/usr/bin/ffmpeg"), Palette::green(palette)},
        {"settings-missing", std::nullopt, Palette::orange(palette)},
    };
    model->preferences().setMapSatelliteTileURL(QStringLiteral("satellite tiles"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PreferencesWindow window(*model, [&](const QString &) { return c.found; });
        // A 1366×768 screen leaves about 700 pixels under the panel and title bar.
        const QSize size(window.sizeHint().width(), std::min(window.sizeHint().height(), 700));
        const QImage image = Screenshot::capture(&window, size, QString::fromLatin1(c.name));
        ASSERT_FALSE(image.isNull());
        EXPECT_LE(image.width(), 1366);
        EXPECT_LE(image.height(), 768);
        PreferencesView *view = window.view();
        // Scrolled to the status row, then to the tiles.
        for (QWidget *shown : {static_cast<QWidget *>(view->ffmpegStatusSymbol()),
                               static_cast<QWidget *>(view->tileWarning(1))}) {
            auto *scroll = window.findChild<QScrollArea *>();
            scroll->ensureWidgetVisible(shown);
            const QImage scrolled =
                Screenshot::capture(&window, size, QString::fromLatin1(c.name) + "-scrolled");
            const QRect area(shown->mapTo(&window, QPoint(0, 0)), shown->size());
            const QColor expected = shown == view->ffmpegStatusSymbol() ? c.colour : Palette::orange(palette);
            EXPECT_GT(Screenshot::count(scrolled, area, expected, 40), 20) << area.x() << "," << area.y();
        }
    }
}

} // namespace
