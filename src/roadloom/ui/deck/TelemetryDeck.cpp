#include "roadloom/ui/deck/TelemetryDeck.h"

#include "roadloom/ui/deck/MapPanel.h"
#include "roadloom/ui/deck/SensorPanel.h"
#include "roadloom/ui/deck/SpeedPanel.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

static_assert(TelemetryDeck::fullWidth == MapPanel::minimumWidth + SpeedPanel::fixedWidth +
                                              SensorPanel::minimumWidth + 2 * TelemetryDeck::spacing +
                                              2 * TelemetryDeck::padding);

TelemetryDeck::TelemetryDeck(AppModel &model, QWidget *parent) : QWidget(parent)
{
    m_map = new MapPanel(model, this);
    m_speed = new SpeedPanel(model, this);
    m_sensor = new SensorPanel(model, this);
}

std::array<QRect, 3> TelemetryDeck::cardRects(const QSize &size)
{
    const int height = std::max(0, size.height() - 2 * padding);
    const int least = MapPanel::minimumWidth + SpeedPanel::fixedWidth + SensorPanel::minimumWidth;
    if (size.width() < stackWidth) {
        // Two rows: the map and the speed card share the top in proportion to their least widths (240 : 210),
        // the chart, which needs the width for its time axis, takes the whole bottom, a little lower.
        const int room = std::max(0, size.width() - 2 * padding - spacing);
        const int map = room * MapPanel::minimumWidth / (MapPanel::minimumWidth + SpeedPanel::fixedWidth);
        const int rows = std::max(0, height - spacing);
        const int bottom = rows * bottomShare / 100;
        const QRect mapRect(padding, padding, map, rows - bottom);
        const QRect speedRect(mapRect.right() + 1 + spacing, padding, room - map, rows - bottom);
        const QRect sensorRect(padding, mapRect.bottom() + 1 + spacing,
                               std::max(0, size.width() - 2 * padding), bottom);
        return {mapRect, speedRect, sensorRect};
    }
    const int room = std::max(0, size.width() - 2 * padding - 2 * spacing);
    int map = 0, speed = 0, sensor = 0;
    if (size.width() >= fullWidth) {
        // The speed card keeps its width; the map and the chart share the rest evenly, each keeping its least
        // width.
        speed = SpeedPanel::fixedWidth;
        const int shared = room - speed;
        sensor = std::max(SensorPanel::minimumWidth, shared - shared / 2);
        map = shared - sensor;
    } else {
        // Narrower than the three least widths, the cards share the room in proportion to those widths
        // (240 : 210 : 280), so none ever lies over another; each card's header then gives way as far as
        // it must to keep its control whole, and the dial shrinks with its card.
        map = room * MapPanel::minimumWidth / least;
        speed = room * SpeedPanel::fixedWidth / least;
        sensor = room - map - speed;
    }
    const QRect mapRect(padding, padding, map, height);
    const QRect speedRect(mapRect.right() + 1 + spacing, padding, speed, height);
    const QRect sensorRect(speedRect.right() + 1 + spacing, padding, sensor, height);
    return {mapRect, speedRect, sensorRect};
}

void TelemetryDeck::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (isStacked() != m_stacked) {
        m_stacked = isStacked();
        updateGeometry(); // two rows need more height than one
    }
    placeCards();
}

void TelemetryDeck::placeCards()
{
    const auto rects = cardRects(size());
    m_map->setGeometry(rects[0]);
    m_speed->setGeometry(rects[1]);
    m_sensor->setGeometry(rects[2]);
}

QSize TelemetryDeck::sizeHint() const
{
    return {fullWidth, minimumSizeHint().height()};
}

QSize TelemetryDeck::minimumSizeHint() const
{
    const int map = m_map->minimumSizeHint().height(), speed = m_speed->minimumSizeHint().height();
    const int sensor = m_sensor->minimumSizeHint().height();
    if (m_stacked) {
        // Rows shared as cardRects shares them, each at least as high as its cards' least height.
        const int top = std::max(map, speed);
        const int rows = std::max((top * 100 + 99 - bottomShare) / (100 - bottomShare),
                                  (sensor * 100 + bottomShare - 1) / bottomShare);
        return {0, rows + 1 + spacing + 2 * padding};
    }
    return {0, std::max({map, speed, sensor}) + 2 * padding};
}

void TelemetryDeck::paintEvent(QPaintEvent *event)
{
    // The window's background one level down, so the cards stand out on it.
    QPainter painter(this);
    const QColor window = palette().color(QPalette::Window);
    painter.fillRect(event->rect(), Palette::isDark(palette()) ? window.darker(125) : window.darker(106));
}
