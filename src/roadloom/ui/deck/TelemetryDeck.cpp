#include "roadloom/ui/deck/TelemetryDeck.h"

#include "roadloom/ui/deck/MapPanel.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/deck/SensorPanel.h"
#include "roadloom/ui/deck/SpeedPanel.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

static_assert(TelemetryDeck::fullWidth == MapPanel::minimumWidth + SpeedPanel::fixedWidth +
                                              SensorPanel::minimumWidth + 2 * TelemetryDeck::spacing +
                                              2 * TelemetryDeck::padding);

TelemetryDeck::TelemetryDeck(AppModel &model, QWidget *parent) : QWidget(parent)
{
    m_map = new MapPanel(model, this);
    m_speed = new SpeedPanel(model, this);
    m_sensor = new SensorPanel(model, this);
    m_scroll = new QScrollBar(Qt::Horizontal, this);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->hide();
    connect(m_scroll, &QScrollBar::valueChanged, this, &TelemetryDeck::placeCards);
}

std::array<QRect, 3> TelemetryDeck::cardRects(const QSize &size)
{
    const int height = std::max(0, size.height() - 2 * padding);
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
        const int least = MapPanel::minimumWidth + SpeedPanel::fixedWidth + SensorPanel::minimumWidth;
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
    const bool scrolls = width() < scrollWidth;
    if (scrolls) {
        const int bar = m_scroll->sizeHint().height();
        m_scroll->setGeometry(0, height() - bar, width(), bar);
        m_scroll->setRange(0, scrollWidth - width());
        m_scroll->setPageStep(width());
        m_scroll->setSingleStep(20);
    } else {
        m_scroll->setValue(0);
    }
    if (scrolls == m_scroll->isHidden()) {
        m_scroll->setVisible(scrolls);
        updateGeometry(); // the bar's height joins the least height, or leaves it
    }
    placeCards();
}

void TelemetryDeck::placeCards()
{
    // While scrolling, the cards lie as in a deck of scrollWidth over the bar, moved by its value.
    const bool scrolls = !m_scroll->isHidden();
    const QSize laid = scrolls ? QSize(scrollWidth, height() - m_scroll->height()) : size();
    const int shift = scrolls ? -m_scroll->value() : 0;
    const auto rects = cardRects(laid);
    m_map->setGeometry(rects[0].translated(shift, 0));
    m_speed->setGeometry(rects[1].translated(shift, 0));
    m_sensor->setGeometry(rects[2].translated(shift, 0));
}

void TelemetryDeck::wheelEvent(QWheelEvent *event)
{
    // What the cards leave of the wheel scrolls the deck while it scrolls.
    if (!m_scroll->isHidden())
        QCoreApplication::sendEvent(m_scroll, event);
    else
        QWidget::wheelEvent(event);
}

QSize TelemetryDeck::sizeHint() const
{
    return {fullWidth, minimumSizeHint().height()};
}

QSize TelemetryDeck::minimumSizeHint() const
{
    int height = 0;
    for (const QWidget *card : {static_cast<const QWidget *>(m_map), static_cast<const QWidget *>(m_speed),
                                static_cast<const QWidget *>(m_sensor)})
        height = std::max(height, card->minimumSizeHint().height());
    return {0, height + 2 * padding + (m_scroll->isHidden() ? 0 : m_scroll->sizeHint().height())};
}

void TelemetryDeck::paintEvent(QPaintEvent *event)
{
    // The window's background one level down, so the cards stand out on it.
    QPainter painter(this);
    const QColor window = palette().color(QPalette::Window);
    painter.fillRect(event->rect(), Palette::isDark(palette()) ? window.darker(125) : window.darker(106));
}
