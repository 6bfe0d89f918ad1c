#include "roadloom/ui/TelemetryDeck.h"

#include "roadloom/ui/MapPanel.h"
#include "roadloom/ui/Palette.h"
#include "roadloom/ui/SensorPanel.h"
#include "roadloom/ui/SpeedPanel.h"

#include <QHBoxLayout>
#include <QPaintEvent>
#include <QPainter>

TelemetryDeck::TelemetryDeck(AppModel &model, QWidget *parent) : QWidget(parent)
{
    m_map = new MapPanel(model, this);
    m_speed = new SpeedPanel(model, this);
    m_sensor = new SensorPanel(model, this);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(padding, padding, padding, padding);
    row->setSpacing(spacing);
    row->addWidget(m_map, 1);
    row->addWidget(m_speed, 0);
    row->addWidget(m_sensor, 1);
}

void TelemetryDeck::paintEvent(QPaintEvent *event)
{
    // The window's background one level down, so the cards stand out on it.
    QPainter painter(this);
    const QColor window = palette().color(QPalette::Window);
    painter.fillRect(event->rect(), Palette::isDark(palette()) ? window.darker(125) : window.darker(106));
}
