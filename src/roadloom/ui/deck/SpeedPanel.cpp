#include "roadloom/ui/deck/SpeedPanel.h"

#include "roadloom/model/AppModel.h"
#include "roadloom/model/Formats.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/deck/SpeedDial.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/SegmentedControl.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QGridLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

namespace {

QLabel *valueLabel(QWidget *parent)
{
    auto *label = new QLabel(Formats::absent, parent);
    label->setFont(TextStyles::caption());
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

// The dial over the figures. Figures and dial share the card's height: in a short card (the deck in two
// rows) the figures give way first, so that the dial, the one reading that matters while driving, keeps a
// readable size; the dial then shrinks with the room left.
class SpeedBody final : public QWidget {
public:
    static constexpr int gap = 8;
    // The least dial worth keeping the figures under.
    static constexpr int leastDialWithFigures = 64;
    static constexpr int leastDial = 32;

    SpeedBody(SpeedDial *dial, QWidget *figures, QWidget *parent)
        : QWidget(parent), m_dial(dial), m_figures(figures)
    {
        dial->setParent(this);
        figures->setParent(this);
    }
    QSize sizeHint() const override
    {
        return {SpeedPanel::dialSize, SpeedPanel::dialSize + gap + m_figures->sizeHint().height()};
    }
    QSize minimumSizeHint() const override { return {leastDial, leastDial}; }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        const int figures = m_figures->sizeHint().height();
        const int withFigures = std::min({width(), height() - gap - figures, SpeedPanel::dialSize});
        const bool showFigures = withFigures >= leastDialWithFigures;
        const int side =
            showFigures ? withFigures : std::clamp(std::min(width(), height()), 0, SpeedPanel::dialSize);
        m_dial->setGeometry((width() - side) / 2, 0, side, side);
        m_figures->setVisible(showFigures);
        if (showFigures)
            m_figures->setGeometry(0, side + gap, width(), figures);
    }

private:
    SpeedDial *m_dial;
    QWidget *m_figures;
};

} // namespace

SpeedPanel::SpeedPanel(AppModel &model, QWidget *parent)
    : Card(QStringLiteral("Speed"), QStringLiteral("speedometer"), parent), m_model(model)
{
    m_unitPicker = new SegmentedControl(this);
    for (SpeedUnit unit : allSpeedUnits)
        m_unitPicker->addSegment(label(unit));
    m_unitPicker->setControlSize(SegmentedControl::Size::mini);
    m_unitPicker->setToolTip(QStringLiteral("Unit"));
    m_unitPicker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessory(m_unitPicker);

    m_dial = new SpeedDial(this);
    auto *figures = new QWidget(this);
    auto *grid = new QGridLayout(figures);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(2);
    int row = 0;
    for (auto [text, value] : {std::pair{QStringLiteral("Heading"), &m_heading},
                               std::pair{QStringLiteral("Top speed"), &m_topSpeed},
                               std::pair{QStringLiteral("Distance"), &m_distance}}) {
        auto *name = new QLabel(text, figures);
        name->setFont(TextStyles::caption());
        m_names.append(name);
        *value = valueLabel(figures);
        grid->addWidget(name, row, 0, Qt::AlignLeft);
        grid->addWidget(*value, row, 1);
        ++row;
    }
    grid->setColumnStretch(1, 1);
    m_figures = figures;
    auto *body = new SpeedBody(m_dial, figures, this);
    setContent(body);
    paletteChanged();

    Preferences *prefs = &model.preferences();
    PlayerController *player = &model.player();
    connect(prefs, &Preferences::speedUnitChanged, this, [this] { unitChanged(); });
    connect(m_unitPicker, &SegmentedControl::activated, prefs,
            [prefs](int i) { prefs->setSpeedUnit(allSpeedUnits[std::clamp(i, 0, 1)]); });
    connect(player, &PlayerController::telemetryChanged, this, [this] { telemetryChanged(); });
    connect(player, &PlayerController::currentTimeChanged, this, [this](double t) { tick(t); });
    telemetryChanged();
}

void SpeedPanel::paletteChanged()
{
    for (QLabel *name : std::as_const(m_names)) {
        QPalette secondary = name->palette();
        secondary.setColor(QPalette::WindowText, Palette::secondaryText(palette()));
        name->setPalette(secondary);
    }
}

QString SpeedPanel::compass(double heading)
{
    static const char *const points[] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};
    if (!std::isfinite(heading))
        return Formats::absent;
    const double normalised = std::fmod(std::fmod(heading, 360.0) + 360.0 + 22.5, 360.0);
    return QString::fromLatin1(points[int(normalised / 45) % 8]);
}

QString SpeedPanel::distance(double metres, SpeedUnit unit)
{
    if (unit == SpeedUnit::mph)
        return QString::asprintf("%.2f mi", metres / 1609.344);
    if (metres < 1000)
        return QString::asprintf("%.0f m", metres);
    return QString::asprintf("%.2f km", metres / 1000);
}

double SpeedPanel::gaugeMaximum(SpeedUnit unit)
{
    return unit == SpeedUnit::mph ? 100 : 160;
}

QString SpeedPanel::heading() const
{
    return m_heading->text();
}
QString SpeedPanel::topSpeed() const
{
    return m_topSpeed->text();
}
QString SpeedPanel::distanceText() const
{
    return m_distance->text();
}

void SpeedPanel::telemetryChanged()
{
    const Telemetry &telemetry = m_model.player().telemetry();
    m_topKnots = telemetry.hasGPS() ? std::optional(telemetry.maxSpeedKnots()) : std::nullopt;
    m_distanceMetres = telemetry.hasGPS() ? telemetry.distanceMeters() : 0;
    unitChanged();
}

void SpeedPanel::unitChanged()
{
    const SpeedUnit unit = m_model.preferences().speedUnit();
    {
        const QSignalBlocker block(m_unitPicker);
        m_unitPicker->setCurrentIndex(unit == SpeedUnit::mph ? 1 : 0);
    }
    m_dial->setUnit(label(unit));
    m_dial->setMaximum(gaugeMaximum(unit));
    m_topSpeed->setText(m_topKnots
                            ? QString::asprintf("%.0f ", *m_topKnots * factorFromKnots(unit)) + label(unit)
                            : Formats::absent);
    m_distance->setText(m_topKnots ? distance(m_distanceMetres, unit) : Formats::absent);
    tick(m_model.player().currentTime());
}

void SpeedPanel::tick(double time)
{
    const auto fix = m_model.player().telemetry().gpsAt(time);
    const SpeedUnit unit = m_model.preferences().speedUnit();
    m_dial->setActive(fix.has_value());
    m_dial->setValue(fix ? fix->speedKnots * factorFromKnots(unit) : 0);
    const QString heading =
        fix && fix->course && std::isfinite(*fix->course)
            ? QString::asprintf("%.0f", *fix->course) + QStringLiteral("\u00B0 ") + compass(*fix->course)
            : Formats::absent;
    if (m_heading->text() != heading)
        m_heading->setText(heading);
}
