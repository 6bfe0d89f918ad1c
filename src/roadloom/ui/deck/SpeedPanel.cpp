#include "roadloom/ui/deck/SpeedPanel.h"

#include "roadloom/model/AppModel.h"
#include "roadloom/model/Formats.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/SegmentedControl.h"
#include "roadloom/ui/deck/SpeedDial.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QGridLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

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

    auto *body = new QWidget(this);
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    m_dial = new SpeedDial(body);
    m_dial->setFixedSize(dialSize, dialSize);
    column->addWidget(m_dial, 0, Qt::AlignHCenter);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(2);
    int row = 0;
    for (auto [text, value] : {std::pair{QStringLiteral("Heading"), &m_heading},
                               std::pair{QStringLiteral("Top speed"), &m_topSpeed},
                               std::pair{QStringLiteral("Distance"), &m_distance}}) {
        auto *name = new QLabel(text, body);
        name->setFont(TextStyles::caption());
        m_names.append(name);
        *value = valueLabel(body);
        grid->addWidget(name, row, 0, Qt::AlignLeft);
        grid->addWidget(*value, row, 1);
        ++row;
    }
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);
    column->addStretch(1);
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

void SpeedPanel::resizeEvent(QResizeEvent *event)
{
    Card::resizeEvent(event);
    // The dial keeps its size while the card has room for it and shrinks with a narrower card.
    const int side = std::clamp(width() - 2 * Card::padding, 40, dialSize);
    m_dial->setFixedSize(side, side);
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
