#include "roadloom/ui/detail/DeckResizeHandle.h"

#include "roadloom/model/Preferences.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

DeckResizeHandle::DeckResizeHandle(Preferences &preferences, QWidget *parent)
    : QWidget(parent), m_preferences(preferences)
{
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::SizeVerCursor);
}

void DeckResizeHandle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(QRect(0, (height() - 1) / 2, width(), 1), Palette::separator(palette()));
}

void DeckResizeHandle::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_press = event->globalPosition();
    m_start.reset();
}

void DeckResizeHandle::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_press || !(event->buttons() & Qt::LeftButton))
        return;
    // In global coordinates: the handle itself moves while it is dragged.
    const QPointF translation = event->globalPosition() - *m_press;
    if (!m_start && std::hypot(translation.x(), translation.y()) < dragThreshold)
        return;
    if (!m_start)
        m_start = m_preferences.deckHeight();
    m_preferences.setDeckHeight(std::clamp(*m_start - translation.y(), minimumHeight, maximumHeight));
}

void DeckResizeHandle::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_press.reset();
    m_start.reset();
}
