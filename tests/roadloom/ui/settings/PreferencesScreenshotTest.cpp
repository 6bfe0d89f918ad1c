// The settings window on screen: the ffmpeg status in green when found, in orange when not, a rejected tile
// address, and the whole window on a small laptop screen.
#include "roadloom/model/AppModelHarness.h"

#include "fixtures/Screenshot.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/settings/PreferencesView.h"
#include "roadloom/ui/settings/PreferencesWindow.h"
#include "roadloom/ui/widgets/ElidedLabel.h"
#include "roadloom/ui/widgets/FormSection.h"
#include "roadloom/ui/widgets/Palette.h"
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
        ASSERT_TRUE(TestSupport::waitFor([&] { return !window.view()->isLookingForFFmpeg(); }));
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

// The labels of the form stay on one line while their rows have room, "Keep backup copies of" included.
TEST_F(PreferencesScreenshot, FormLabelsDoNotBreakWhenTheRowHasRoom)
{
    ROADLOOM_REQUIRE_SCREENSHOTS();
    Screenshot::prepare();
    make({});
    PreferencesWindow window(*model, [](const QString &) { return QStringLiteral("/usr/bin/ffmpeg"); });
    const QSize size(window.sizeHint().width(), std::min(window.sizeHint().height(), 700));
    const QImage image = Screenshot::capture(&window, size, "settings-labels");
    ASSERT_FALSE(image.isNull());
    int checked = 0;
    bool backup = false;
    for (FormSection *section : window.findChildren<FormSection *>()) {
        for (int row = 0; row < section->rowCount(); ++row) {
            QLabel *label = section->rowLabel(row);
            if (!label || !label->isVisibleTo(&window))
                continue;
            SCOPED_TRACE(label->text().toStdString());
            EXPECT_LT(label->height(), 2 * label->fontMetrics().lineSpacing()) << "on one line";
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
            backup |= label->text() == "Keep backup copies of";
            ++checked;
        }
    }
    EXPECT_TRUE(backup);
    EXPECT_GT(checked, 4);
}

} // namespace
