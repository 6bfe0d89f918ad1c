#include "roadloom/ui/widgets/BusyIndicator.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"
#include "roadloom/ui/widgets/ElidedLabel.h"
#include "roadloom/ui/widgets/FormSection.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/SegmentedControl.h"
#include "roadloom/ui/widgets/SymbolLabel.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include "fixtures/Screenshot.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A page of the base widgets as the views use them: a settings form, the category symbols, the busy
// indicators and an empty state.
struct Gallery {
    QWidget window;
    SegmentedControl *units = nullptr;
    SegmentedControl *mini = nullptr;
    FormSection *section = nullptr;
    QList<SymbolLabel *> categories;
    BusyIndicator *busy = nullptr;
    ContentUnavailableWidget *empty = nullptr;

    Gallery()
    {
        auto *left = new QVBoxLayout;
        left->setSpacing(16);
        section = new FormSection(QStringLiteral("Playback"));
        units = new SegmentedControl({QStringLiteral("km/h"), QStringLiteral("mph")});
        section->addRow(QStringLiteral("Speed unit"), units);
        section->addRow(new QCheckBox(QStringLiteral("Play next recording automatically")));
        auto *path = new ElidedLabel(
            QStringLiteral("/home/user/Pictures/Roadloom/Snapshots/From the long trip/2024"), Qt::ElideLeft);
        path->setColor(Palette::secondaryText());
        path->setMinimumWidth(200);
        section->addRow(QStringLiteral("Save to"), path);
        auto *field = new QLineEdit;
        field->setPlaceholderText(QStringLiteral("Auto-detect"));
        section->addRow(QStringLiteral("ffmpeg"), field);
        section->setFooter(
            QStringLiteral("Older Thinkware models record AVI files, which are converted to MOV "
                           "once and cached. MP4 and MOV files play directly."));
        left->addWidget(section);

        auto *row = new QHBoxLayout;
        for (ClipCategory category : allClipCategories) {
            auto *symbolLabel = new SymbolLabel(symbol(category), 28);
            symbolLabel->setColor(Palette::tint(category));
            categories.append(symbolLabel);
            row->addWidget(symbolLabel);
        }
        row->addStretch(1);
        left->addLayout(row);

        auto *controls = new QHBoxLayout;
        mini = new SegmentedControl;
        mini->setControlSize(SegmentedControl::Size::mini);
        mini->addSegment(QString(), QStringLiteral("map"));
        mini->addSegment(QStringLiteral("Hybrid"));
        mini->addSegment(QStringLiteral("Satellite"));
        mini->setCurrentIndex(1);
        controls->addWidget(mini);
        controls->addWidget(new BusyIndicator(BusyIndicator::Size::small));
        controls->addWidget(new BusyIndicator(BusyIndicator::Size::regular));
        busy = new BusyIndicator(BusyIndicator::Size::large);
        controls->addWidget(busy);
        controls->addStretch(1);
        left->addLayout(controls);
        left->addStretch(1);

        empty = new ContentUnavailableWidget(
            QStringLiteral("car.rear.and.tire.marks"), QStringLiteral("No Recordings"),
            QStringLiteral("Insert your dashcam's microSD card, open a folder, "
                           "or drop video files here."));
        empty->addButton(QStringLiteral("Open Folder…"));

        auto *columns = new QHBoxLayout(&window);
        columns->setContentsMargins(24, 24, 24, 24);
        columns->setSpacing(24);
        columns->addLayout(left, 0);
        left->setSizeConstraint(QLayout::SetDefaultConstraint);
        section->setFixedWidth(460);
        columns->addWidget(empty, 1);
    }

    QPoint at(QWidget *widget, QPoint point) const { return widget->mapTo(&window, point); }
};

void checkGallery(const QImage &image, Gallery &g, Screenshot::Appearance appearance)
{
    const QPalette palette = Screenshot::palette(appearance);
    const bool dark = appearance == Screenshot::Appearance::dark;

    // The chosen segment is raised above the track; the other one is not.
    const QRect chosen = g.units->segmentRect(0);
    const QRect other = g.units->segmentRect(1);
    const QColor chosenFace = Screenshot::sample(image, g.at(g.units, chosen.topLeft() + QPoint(4, 4)));
    const QColor otherFace = Screenshot::sample(image, g.at(g.units, other.topLeft() + QPoint(4, 4)));
    EXPECT_TRUE(Screenshot::near(chosenFace, dark ? QColor(0x63, 0x63, 0x66) : QColor(Qt::white), 8))
        << chosenFace.name().toStdString();
    EXPECT_GT(std::abs(chosenFace.lightness() - otherFace.lightness()), 15);

    // Each category's symbol is drawn in its own tint.
    for (int i = 0; i < g.categories.size(); ++i) {
        SymbolLabel *label = g.categories[i];
        const QRect area(g.at(label, QPoint(0, 0)), label->size());
        EXPECT_GT(Screenshot::count(image, area, Palette::tint(allClipCategories[i], palette), 6), 40)
            << rawValue(allClipCategories[i]).toStdString();
    }

    // The form's panel stands out from the window around it.
    const QRect panel(g.at(g.section, QPoint(0, 0)), g.section->size());
    const QColor inside =
        Screenshot::sample(image, g.at(g.section->rowLabel(0)->parentWidget(), QPoint(3, 3)));
    const QColor outside = Screenshot::sample(image, panel.topLeft() + QPoint(panel.width() / 2, -8));
    EXPECT_TRUE(Screenshot::near(outside, palette.color(QPalette::Window), 4))
        << outside.name().toStdString();
    EXPECT_GT(std::abs(inside.lightness() - outside.lightness()), 6);

    // The empty state: its symbol in the secondary colour above a title in the text colour.
    const QRect page(g.at(g.empty, QPoint(0, 0)), g.empty->size());
    const QColor text = palette.color(QPalette::WindowText);
    const int titleInk = Screenshot::count(image, page, text, 30);
    EXPECT_GT(titleInk, 100);
    const QColor window = palette.color(QPalette::Window);
    const QColor secondary = QColor::fromRgbF(window.redF() + (text.redF() - window.redF()) * 0.62f,
                                              window.greenF() + (text.greenF() - window.greenF()) * 0.62f,
                                              window.blueF() + (text.blueF() - window.blueF()) * 0.62f);
    EXPECT_GT(Screenshot::count(image, page, secondary, 10), 100) << "symbol and description in secondary";

    // The large busy indicator draws.
    const QRect spinner(g.at(g.busy, QPoint(0, 0)), g.busy->size());
    EXPECT_GT(
        Screenshot::count(image, spinner, [&](const QColor &c) { return !Screenshot::near(c, window, 10); }),
        20);
}

} // namespace

TEST(BaseWidgetsScreenshotTest, LightAndDark)
{
    ROADLOOM_REQUIRE_SCREENSHOTS();
    for (Screenshot::Appearance appearance : {Screenshot::Appearance::light, Screenshot::Appearance::dark}) {
        const bool dark = appearance == Screenshot::Appearance::dark;
        SCOPED_TRACE(dark ? "dark" : "light");
        Screenshot::prepare(appearance);
        Gallery gallery;
        const QImage image = Screenshot::capture(&gallery.window, Screenshot::small,
                                                 dark ? QStringLiteral("base-widgets-dark")
                                                      : QStringLiteral("base-widgets-light"));
        checkGallery(image, gallery, appearance);
    }
}

TEST(BaseWidgetsScreenshotTest, LargeWindow)
{
    ROADLOOM_REQUIRE_SCREENSHOTS();
    Screenshot::prepare();
    Gallery gallery;
    const QImage image =
        Screenshot::capture(&gallery.window, Screenshot::large, QStringLiteral("base-widgets-large"));
    EXPECT_EQ(image.size(), Screenshot::large);
    checkGallery(image, gallery, Screenshot::Appearance::light);
}
