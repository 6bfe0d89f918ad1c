#include "roadloom/ui/shell/DropOverlay.h"

#include "roadloom/ui/widgets/Palette.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

DropOverlay::DropOverlay(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    // Follows the size of the window it covers.
    parent->installEventFilter(this);
    setGeometry(parent->rect());
}

bool DropOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void DropOverlay::showEvent(QShowEvent *event)
{
    // Over everything the window holds, also the menu bar and toolbar added after it.
    raise();
    QWidget::showEvent(event);
}

void DropOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The stroke lies inside the frame's edge: move the path in by half the line width.
    const qreal half = lineWidth / 2;
    const QRectF frame = QRectF(rect()).adjusted(inset + half, inset + half, -inset - half, -inset - half);
    QPen pen(Palette::accent(palette()), lineWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    // Dash lengths are in line widths.
    pen.setDashPattern({dash / lineWidth, gap / lineWidth});
    pen.setDashOffset(0);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(frame, cornerRadius - half, cornerRadius - half);
}
