#include "roadloom/ui/deck/SpeedDial.h"

#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QApplication>
#include <QConicalGradient>
#include <QFontInfo>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
// Screen angles, counter-clockwise from three o'clock: the arc starts at the lower left and runs clockwise
// over the top to the lower right.
constexpr double arcStart = 225;
constexpr double arcSweep = 270;
} // namespace

SpeedDial::SpeedDial(QWidget *parent) : QWidget(parent)
{
    m_animation.setDuration(animationMs);
    m_animation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_shown = value.toDouble();
        // A new speed at every tick would have the dial painted at the animation's rate for steps far
        // below a pixel.
        if (arcMovedVisibly() || m_animation.currentTime() >= m_animation.duration())
            update();
    });
}

bool SpeedDial::arcMovedVisibly() const
{
    const double radius = std::min(width(), height()) / 2.0;
    const double moved = std::abs(m_shown - m_painted) * arcSweep * std::numbers::pi / 180 * radius;
    return m_painted < 0 || moved * devicePixelRatioF() >= 0.5;
}

void SpeedDial::setValue(double value)
{
    if (m_value == value)
        return;
    const QString before = numberText();
    m_value = value;
    if (numberText() != before)
        update();
    animateToFraction();
}

void SpeedDial::setMaximum(double maximum)
{
    if (m_maximum == maximum)
        return;
    m_maximum = maximum;
    animateToFraction();
}

void SpeedDial::setUnit(const QString &unit)
{
    if (m_unit == unit)
        return;
    m_unit = unit;
    update();
}

void SpeedDial::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    update();
}

double SpeedDial::fraction() const
{
    const double f = m_value / m_maximum;
    return std::isfinite(f) ? std::clamp(f, 0.0, 1.0) : 0.0;
}

QString SpeedDial::numberText() const
{
    return m_active && std::isfinite(m_value) ? QString::asprintf("%.0f", m_value) : QStringLiteral("--");
}

QRectF SpeedDial::dialRect() const
{
    const double side = std::min(width(), height());
    return QRectF((width() - side) / 2, (height() - side) / 2, side, side);
}

void SpeedDial::animateToFraction()
{
    const double target = fraction();
    m_animation.stop();
    if (!isVisible() || std::abs(target - m_shown) < 1e-9) {
        m_shown = target;
        update();
        return;
    }
    m_animation.setStartValue(m_shown);
    m_animation.setEndValue(target);
    m_animation.start();
}

void SpeedDial::paintEvent(QPaintEvent *)
{
    m_painted = m_shown;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF square = dialRect();
    const double inset = lineWidth / 2.0;
    const QRectF arc = square.adjusted(inset, inset, -inset, -inset);

    painter.setPen(QPen(Palette::quaternaryFill(palette()), lineWidth, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(arc, int(arcStart * 16), int(-arcSweep * 16));

    // No arc at all for nothing: a round cap alone would leave a dot.
    if (m_shown > 0) {
        // The gradient's seam sits at the bottom, in the gap, so neither round cap crosses it.
        QConicalGradient gradient(arc.center(), 270);
        gradient.setColorAt(0.0, Palette::red(palette()));
        gradient.setColorAt(0.125, Palette::red(palette()));
        gradient.setColorAt(0.375, Palette::orange(palette()));
        gradient.setColorAt(0.625, QColor(0xff, 0xcc, 0x00));
        gradient.setColorAt(0.875, Palette::green(palette()));
        gradient.setColorAt(1.0, Palette::green(palette()));
        painter.setPen(QPen(QBrush(gradient), lineWidth, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(arc, int(arcStart * 16), int(std::lround(-arcSweep * m_shown * 16)));
    }

    // The figures are sized for the full dial; a smaller dial (a short card) takes them down with it, so
    // they stay inside the ring.
    const double shrink = std::min(1.0, square.width() / fullSide);
    QFont number = QApplication::font();
    number.setPixelSize(std::max(8, int(std::lround(30 * shrink))));
    number.setWeight(QFont::DemiBold);
    QFont caption = TextStyles::caption();
    if (shrink < 1)
        caption.setPixelSize(std::max(7, int(std::lround(QFontInfo(caption).pixelSize() * shrink))));
    const QFontMetricsF numberMetrics(number), captionMetrics(caption);
    const double total = numberMetrics.height() - 2 + captionMetrics.height();
    const double top = square.center().y() - total / 2;
    painter.setFont(number);
    painter.setPen(Palette::primaryText(palette()));
    painter.drawText(QRectF(square.left(), top, square.width(), numberMetrics.height()), Qt::AlignCenter,
                     numberText());
    painter.setFont(caption);
    painter.setPen(Palette::secondaryText(palette()));
    painter.drawText(
        QRectF(square.left(), top + numberMetrics.height() - 2, square.width(), captionMetrics.height()),
        Qt::AlignCenter, m_unit);
}
