#include "roadloom/ui/widgets/SegmentedControl.h"

#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/Symbols.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QFocusEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <numeric>

namespace {

constexpr int inset = 2;     // between the track and the chosen segment
constexpr int padding = 10;  // left and right of a segment's content
constexpr int symbolGap = 4; // between a symbol and its title

} // namespace

SegmentedControl::SegmentedControl(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::TabFocus); // a click chooses without taking the keyboard
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

SegmentedControl::SegmentedControl(const QStringList &titles, QWidget *parent) : SegmentedControl(parent)
{
    for (const QString &title : titles)
        addSegment(title);
}

int SegmentedControl::addSegment(const QString &title, const QString &symbol)
{
    m_segments.append(Segment{title, symbol, QString(), true});
    updateGeometry();
    if (m_current < 0)
        setCurrentIndex(0);
    update();
    return count() - 1;
}

QString SegmentedControl::title(int index) const
{
    return index >= 0 && index < count() ? m_segments[index].title : QString();
}

void SegmentedControl::setSegmentToolTip(int index, const QString &toolTip)
{
    if (index >= 0 && index < count())
        m_segments[index].toolTip = toolTip;
}

void SegmentedControl::setSegmentEnabled(int index, bool enabled)
{
    if (index < 0 || index >= count())
        return;
    m_segments[index].enabled = enabled;
    update();
}

bool SegmentedControl::isSegmentEnabled(int index) const
{
    return index >= 0 && index < count() && m_segments[index].enabled && isEnabled();
}

void SegmentedControl::setCurrentIndex(int index)
{
    if (index < 0 || index >= count())
        index = -1;
    if (m_current == index)
        return;
    m_current = index;
    update();
    emit currentIndexChanged(index);
}

void SegmentedControl::setControlSize(Size size)
{
    if (m_size == size)
        return;
    m_size = size;
    updateGeometry();
    update();
}

QFont SegmentedControl::segmentFont() const
{
    return m_size == Size::mini ? TextStyles::caption() : TextStyles::callout();
}

int SegmentedControl::controlHeight() const
{
    const int text = QFontMetrics(segmentFont()).height();
    return text + (m_size == Size::mini ? 6 : 10);
}

int SegmentedControl::segmentWidth(const Segment &segment) const
{
    const QFontMetrics metrics(segmentFont());
    int width = 0;
    if (!segment.symbol.isEmpty())
        width += metrics.height();
    if (!segment.title.isEmpty())
        width += (width ? symbolGap : 0) + metrics.horizontalAdvance(segment.title);
    return width + 2 * (m_size == Size::mini ? padding - 3 : padding);
}

QSize SegmentedControl::sizeHint() const
{
    // Segments share the width equally, each as wide as the widest.
    int widest = 0;
    for (const Segment &segment : m_segments)
        widest = std::max(widest, segmentWidth(segment));
    return QSize(std::max(1, int(m_segments.size()) * widest + 2 * inset), controlHeight());
}

QSize SegmentedControl::minimumSizeHint() const
{
    return sizeHint();
}

QRect SegmentedControl::segmentRect(int index) const
{
    if (index < 0 || index >= count())
        return QRect();
    const int inner = width() - 2 * inset;
    const int left = inset + inner * index / count();
    const int right = inset + inner * (index + 1) / count();
    return QRect(left, inset, right - left, height() - 2 * inset);
}

int SegmentedControl::segmentAt(const QPoint &position) const
{
    for (int i = 0; i < count(); ++i) {
        if (segmentRect(i).contains(position))
            return i;
    }
    return -1;
}

void SegmentedControl::choose(int index)
{
    if (!isSegmentEnabled(index))
        return;
    setCurrentIndex(index);
    emit activated(index);
}

void SegmentedControl::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_pressed = segmentAt(event->position().toPoint());
    update();
}

void SegmentedControl::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    const int pressed = std::exchange(m_pressed, -1);
    if (pressed >= 0 && pressed == segmentAt(event->position().toPoint()))
        choose(pressed);
    update();
}

void SegmentedControl::keyPressEvent(QKeyEvent *event)
{
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (step == 0 || count() == 0)
        return QWidget::keyPressEvent(event);
    // Moves to the next enabled segment in that direction, if any.
    for (int i = m_current + step; i >= 0 && i < count(); i += step) {
        if (isSegmentEnabled(i)) {
            choose(i);
            break;
        }
    }
}

bool SegmentedControl::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const int index = segmentAt(help->pos());
        if (index >= 0 && !m_segments[index].toolTip.isEmpty()) {
            QToolTip::showText(help->globalPos(), m_segments[index].toolTip, this, segmentRect(index));
            return true;
        }
    }
    if (event->type() == QEvent::HoverLeave || event->type() == QEvent::HoverMove)
        update();
    return QWidget::event(event);
}

void SegmentedControl::focusInEvent(QFocusEvent *event)
{
    // The ring marks focus that came from the keyboard, not a window becoming active.
    m_keyboardFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QWidget::focusInEvent(event);
}

void SegmentedControl::focusOutEvent(QFocusEvent *event)
{
    m_keyboardFocus = false;
    QWidget::focusOutEvent(event);
}

void SegmentedControl::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateGeometry();
}

void SegmentedControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const bool dark = Palette::isDark(pal);
    const double radius = m_size == Size::mini ? 5 : 6;

    // The track.
    painter.setPen(Qt::NoPen);
    QColor track = Palette::primaryText(pal);
    track.setAlphaF(dark ? 0.12f : 0.07f);
    painter.setBrush(track);
    painter.drawRoundedRect(QRectF(rect()), radius, radius);

    // Dividers between segments that are not beside the chosen one.
    QColor divider = Palette::separator(pal);
    for (int i = 1; i < count(); ++i) {
        if (i == m_current || i - 1 == m_current)
            continue;
        const QRect r = segmentRect(i);
        painter.fillRect(QRectF(r.left() - 0.5, r.top() + r.height() * 0.25, 1, r.height() * 0.5), divider);
    }

    // The chosen segment, raised.
    if (m_current >= 0) {
        const QRectF chosen = QRectF(segmentRect(m_current));
        QColor face = dark ? QColor(0x63, 0x63, 0x66) : QColor(Qt::white);
        QColor shadow(0, 0, 0, dark ? 90 : 40);
        painter.setBrush(shadow);
        painter.drawRoundedRect(chosen.translated(0, 0.5), radius - 1, radius - 1);
        painter.setBrush(face);
        painter.drawRoundedRect(chosen, radius - 1, radius - 1);
    }

    const QFont font = segmentFont();
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const QPoint hover = mapFromGlobal(QCursor::pos());
    for (int i = 0; i < count(); ++i) {
        const Segment &segment = m_segments[i];
        const QRect r = segmentRect(i);
        QColor ink = dark && i == m_current ? QColor(Qt::white) : Palette::primaryText(pal);
        if (!isSegmentEnabled(i))
            ink = Palette::tertiaryText(pal);
        else if (i != m_current && (i == m_pressed || (underMouse() && r.contains(hover))))
            ink = Palette::secondaryText(pal);

        const int symbolWidth = segment.symbol.isEmpty() ? 0 : metrics.height();
        const int titleWidth = segment.title.isEmpty() ? 0 : metrics.horizontalAdvance(segment.title);
        const int total = symbolWidth + titleWidth + (symbolWidth && titleWidth ? symbolGap : 0);
        int x = r.left() + std::max(0, (r.width() - total) / 2);
        if (symbolWidth) {
            const int extent = metrics.height() - 2;
            painter.drawPixmap(QRect(x + 1, r.top() + (r.height() - extent) / 2, extent, extent),
                               Symbols::pixmap(segment.symbol, extent, ink, devicePixelRatioF()));
            x += symbolWidth + (titleWidth ? symbolGap : 0);
        }
        if (titleWidth) {
            painter.setPen(ink);
            const QRect textRect(x, r.top(), r.right() - x + 1, r.height());
            painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                             metrics.elidedText(segment.title, Qt::ElideRight, textRect.width()));
        }
    }

    if (hasFocus() && m_keyboardFocus) {
        QPen focus(Palette::accent(pal), 2);
        painter.setPen(focus);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), radius, radius);
    }
}
