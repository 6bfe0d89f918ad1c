#include "roadloom/ui/widgets/BusyIndicator.h"

#include "roadloom/ui/widgets/Palette.h"

#include <QPainter>

BusyIndicator::BusyIndicator(Size size, QWidget *parent) : QWidget(parent), m_size(size)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer.setInterval(1000 / spokes); // one turn a second
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % spokes;
        update();
    });
}

int BusyIndicator::extent(Size size)
{
    switch (size) {
    case Size::small:
        return 16;
    case Size::regular:
        return 24;
    case Size::large:
        return 32;
    }
    return 24;
}

void BusyIndicator::setIndicatorSize(Size size)
{
    if (m_size == size)
        return;
    m_size = size;
    updateGeometry();
    update();
}

void BusyIndicator::setColor(const QColor &color)
{
    m_color = color;
    update();
}

QSize BusyIndicator::sizeHint() const
{
    return QSize(extent(m_size), extent(m_size));
}

void BusyIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void BusyIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    const double side = std::min(width(), height());
    if (side <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const QColor base = m_color.isValid() ? m_color : Palette::secondaryText(palette());
    const double outer = side / 2 - side / 16;
    const double inner = side * 0.22;
    QPen pen(base, std::max(1.5, side / 10), Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < spokes; ++i) {
        // The leading spoke is solid; the ones behind it fade.
        const int behind = (m_step - i + spokes) % spokes;
        QColor color = base;
        color.setAlphaF(base.alphaF() * float(1.0 - 0.8 * behind / double(spokes - 1)));
        pen.setColor(color);
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / spokes - 90);
        painter.drawLine(QPointF(inner, 0), QPointF(outer, 0));
        painter.restore();
    }
}
