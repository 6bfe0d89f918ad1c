#include "roadloom/ui/deck/SensorPanel.h"

#include "roadloom/model/AppModel.h"
#include "roadloom/ui/deck/SensorChart.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStackedWidget>

namespace {

// The small filled circle before an axis name.
class Dot : public QWidget {
public:
    Dot(const QColor &color, QWidget *parent) : QWidget(parent), m_color(color) { setFixedSize(6, 6); }
    void setColor(const QColor &color)
    {
        m_color = color;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_color);
        painter.drawEllipse(QRectF(rect()));
    }

private:
    QColor m_color;
};

} // namespace

SensorPanel::SensorPanel(AppModel &model, QWidget *parent)
    : Card(QStringLiteral("G-Sensor"), QStringLiteral("waveform.path.ecg"), parent), m_model(model)
{
    m_readout = new QWidget(this);
    auto *row = new QHBoxLayout(m_readout);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    const QString names[] = {QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("Z")};
    for (int i = 0; i < 3; ++i) {
        auto *entry = new QHBoxLayout;
        entry->setSpacing(2);
        m_dots[i] = new Dot(QColor(), m_readout);
        entry->addWidget(m_dots[i], 0, Qt::AlignVCenter);
        m_names[i] = new QLabel(names[i], m_readout);
        m_names[i]->setFont(TextStyles::caption());
        entry->addWidget(m_names[i]);
        m_values[i] = new QLabel(m_readout);
        m_values[i]->setFont(TextStyles::caption());
        entry->addWidget(m_values[i]);
        row->addLayout(entry);
    }
    setAccessory(m_readout);
    setAccessoryCompact(false);

    m_stack = new QStackedWidget(this);
    m_chart = new SensorChart(m_stack);
    m_placeholder = new ContentUnavailableWidget(QStringLiteral("gyroscope"), QString(), QString(), m_stack);
    m_stack->addWidget(m_chart);
    m_stack->addWidget(m_placeholder);
    setContent(m_stack);
    paletteChanged();

    PlayerController *player = &model.player();
    connect(player, &PlayerController::telemetryChanged, this, [this] { telemetryChanged(); });
    connect(player, &PlayerController::isLoadingTelemetryChanged, this, [this] { telemetryChanged(); });
    connect(player, &PlayerController::durationChanged, this, [this] { durationChanged(); });
    connect(player, &PlayerController::currentTimeChanged, this, [this](double t) { tick(t); });
    connect(m_chart, &SensorChart::seekRequested, player, [player](double t) { player->seek(t); });
    telemetryChanged();
}

void SensorPanel::paletteChanged()
{
    if (!m_dots[2])
        return; // still being built
    const QColor colors[] = {Palette::red(palette()), Palette::green(palette()), Palette::blue(palette())};
    for (int i = 0; i < 3; ++i) {
        static_cast<Dot *>(m_dots[i])->setColor(colors[i]);
        QPalette secondary = m_names[i]->palette();
        secondary.setColor(QPalette::WindowText, Palette::secondaryText(palette()));
        m_names[i]->setPalette(secondary);
    }
}

void SensorPanel::setAccessoryCompact(bool compact)
{
    // Room for "-10.00" keeps the header still while values change; short of room, for the usual "-0.00",
    // and the axes are told by their dots' colours alone.
    const QFontMetrics metrics(TextStyles::caption());
    const int value = metrics.horizontalAdvance(compact ? QStringLiteral("-0.00") : QStringLiteral("-10.00"));
    for (int i = 0; i < 3; ++i) {
        m_names[i]->setVisible(!compact);
        m_values[i]->setMinimumWidth(value);
    }
}

bool SensorPanel::showsChart() const
{
    return m_stack->currentWidget() == m_chart;
}

QStringList SensorPanel::readout() const
{
    if (m_readout->isHidden())
        return {};
    return {m_values[0]->text(), m_values[1]->text(), m_values[2]->text()};
}

void SensorPanel::telemetryChanged()
{
    const Telemetry &telemetry = m_model.player().telemetry();
    if (telemetry.hasSensor()) {
        m_chart->setSamples(telemetry.sensor);
        durationChanged();
        m_stack->setCurrentWidget(m_chart);
    } else {
        m_chart->setSamples({});
        m_placeholder->setTitle(m_model.player().isLoadingTelemetry() ? QStringLiteral("Reading sensor…")
                                                                      : QStringLiteral("No G-Sensor Data"));
        m_placeholder->setDescription(QString()); // also fits the page to the new title
        m_stack->setCurrentWidget(m_placeholder);
    }
    tick(m_model.player().currentTime());
}

void SensorPanel::durationChanged()
{
    m_chart->setDuration(std::max(m_model.player().telemetry().duration(), m_model.player().duration()));
}

void SensorPanel::tick(double time)
{
    m_chart->setCurrentTime(time);
    const auto sample = m_model.player().telemetry().sensorAt(time);
    if (m_readout->isHidden() == sample.has_value()) {
        m_readout->setVisible(sample.has_value());
        fitHeader(); // the caption may have to give way to the values, or may come back
    }
    if (!sample)
        return;
    const double values[] = {sample->x, sample->y, sample->z};
    for (int i = 0; i < 3; ++i) {
        const QString text = QString::asprintf("%+.2f", values[i]);
        if (m_values[i]->text() != text)
            m_values[i]->setText(text);
    }
}
