#include "roadloom/ui/detail/Scrubber.h"

#include "roadloom/model/PlayerController.h"
#include "roadloom/model/TimeText.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/Symbols.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double markerSize = 9;

} // namespace

Scrubber::Scrubber(PlayerController &player, QWidget *parent) : QWidget(parent), m_player(player)
{
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(topReach + barHeight + bottomReach);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_time = player.currentTime();
    rebuildEnvelope();
    setEnabled(player.hasMedia());
    connect(&player, &PlayerController::hasMediaChanged, this, &QWidget::setEnabled);
    connect(&player, &PlayerController::telemetryChanged, this, &Scrubber::rebuildEnvelope);
    connect(&player, &PlayerController::durationChanged, this, &Scrubber::rebuildEnvelope);
    connect(&player, &PlayerController::currentTimeChanged, this, &Scrubber::moveTo);
}

std::vector<double> Scrubber::envelope(const QList<SensorSample> &samples, double duration, int bins)
{
    if (bins <= 0)
        return {};
    // Per bin the smallest and the largest squared length: the jolt furthest from 1 g is one of the two,
    // so the square roots are taken per bin rather than per sample.
    struct Range {
        double lowest = std::numeric_limits<double>::infinity();
        double highest = -std::numeric_limits<double>::infinity();
    };
    std::vector<Range> ranges(static_cast<std::size_t>(bins));
    const double last = bins - 1;
    for (const SensorSample &sample : samples) {
        // Clamped as a double first: a NaN or an enormous time must not reach the integer conversion, and
        // a NaN fails the comparison and lands in the first bin.
        const double position = sample.time / duration * bins;
        const double index = position >= 0 ? std::min(position, last) : 0.0;
        Range &range = ranges[std::size_t(index)];
        const double squared = sample.x * sample.x + sample.y * sample.y + sample.z * sample.z;
        // A damaged (NaN) reading fails both comparisons and counts for nothing.
        range.lowest = std::min(range.lowest, squared);
        range.highest = std::max(range.highest, squared);
    }
    const auto jolt = [](double squared) { return std::min(std::abs(std::sqrt(squared) - 1.0) * 0.5, 1.0); };
    std::vector<double> values(std::size_t(bins), floorValue);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (ranges[i].highest < 0)
            continue;
        values[i] = std::max({jolt(ranges[i].lowest), jolt(ranges[i].highest), floorValue});
    }
    return values;
}

QSize Scrubber::sizeHint() const
{
    return {400, topReach + barHeight + bottomReach};
}

QSize Scrubber::minimumSizeHint() const
{
    return {60, topReach + barHeight + bottomReach};
}

QRectF Scrubber::barRect() const
{
    return QRectF(0, topReach, width(), barHeight);
}

double Scrubber::span() const
{
    return std::max(m_player.duration(), 0.001);
}

double Scrubber::progress() const
{
    const double p = m_time / span();
    return std::isnan(p) ? 0.0 : std::clamp(p, 0.0, 1.0);
}

double Scrubber::playheadX() const
{
    return progress() * width();
}

std::optional<QRectF> Scrubber::markerRect() const
{
    if (!m_peak || !(m_peak->magnitude() > markerThresholdG))
        return std::nullopt;
    const double x = width() * std::clamp(m_peak->time / span(), 0.0, 1.0);
    const double y = topReach - 3.0;
    return QRectF(x - markerSize / 2, y - markerSize / 2, markerSize, markerSize);
}

QString Scrubber::toolTipAt(const QPointF &point) const
{
    const auto marker = markerRect();
    if (!marker || !marker->adjusted(-1, -1, 1, 1).contains(point))
        return {};
    return QStringLiteral("Peak %1 g at %2")
        .arg(QString::number(m_peak->magnitude(), 'f', 2), timeString(m_peak->time));
}

void Scrubber::rebuildEnvelope()
{
    const Telemetry &telemetry = m_player.telemetry();
    m_envelope = envelope(telemetry.sensor, span(), binCount);
    m_peak = telemetry.peakG();
    update();
}

void Scrubber::moveTo(double time)
{
    const double oldX = playheadX();
    m_time = time;
    const double newX = playheadX();
    if (oldX == newX)
        return;
    // Bars between the two positions change colour; the playhead's capsule and shadow reach 3 pixels.
    const int left = int(std::floor(std::min(oldX, newX))) - 4;
    const int right = int(std::ceil(std::max(oldX, newX))) + 4;
    const double slot = m_envelope.empty() ? 0.0 : double(width()) / double(m_envelope.size());
    update(QRect(left - int(std::ceil(slot)), 0, right - left + 2 * int(std::ceil(slot)) + 1, height()));
}

void Scrubber::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(event->rect());
    const QPalette &pal = palette();
    const QRectF bars = barRect();
    const double W = bars.width(), H = bars.height();

    painter.fillRect(event->rect(), pal.color(QPalette::Window));
    painter.setPen(Qt::NoPen);
    QColor track = Palette::quaternaryFill(pal);
    track.setAlphaF(track.alphaF() * 0.5);
    painter.setBrush(track);
    painter.drawRoundedRect(bars, 6, 6);

    const std::size_t n = m_envelope.size();
    const double p = progress();
    if (n > 0) {
        const QColor red = Palette::red(pal);
        const QColor accent = Palette::accent(pal);
        QColor unplayed = Palette::secondaryText(pal);
        unplayed.setAlphaF(unplayed.alphaF() * 0.45);
        const double slot = W / double(n);
        const double barWidth = std::max(slot - 1, 1.0);
        const double clipLeft = event->rect().left() - slot, clipRight = event->rect().right() + 1;
        for (std::size_t i = 0; i < n; ++i) {
            const double x = slot * double(i);
            if (x + barWidth < clipLeft || x > clipRight)
                continue;
            const double v = m_envelope[i];
            const double h = std::max((H - 6) * v, 2.0);
            const QRectF bar(x, bars.top() + (H - h) / 2, barWidth, h);
            if (v > redThreshold)
                painter.setBrush(red);
            else if (double(i) / double(n) > p)
                painter.setBrush(unplayed);
            else
                painter.setBrush(accent);
            painter.drawRoundedRect(bar, 1, 1);
        }
    }

    if (const auto marker = markerRect()) {
        const qreal dpr = devicePixelRatioF();
        const QPixmap symbol = Symbols::pixmap(markerSymbol, int(markerSize), Palette::red(pal), dpr);
        painter.drawPixmap(marker->topLeft(), symbol);
    }

    // The playhead: a capsule 3 wide reaching 3 beyond the bars, with a faint shadow.
    const double x = p * W;
    const QRectF head(x - 1.5, bars.top() - 3, 3, H + 6);
    painter.setBrush(QColor(0, 0, 0, 84));
    painter.drawRoundedRect(head.adjusted(-1, -1, 1, 1), 2.5, 2.5);
    painter.setBrush(pal.color(QPalette::WindowText));
    painter.drawRoundedRect(head, 1.5, 1.5);
}

void Scrubber::seekAt(double x)
{
    const double w = std::max(width(), 1);
    const double fraction = std::clamp(x / w, 0.0, 1.0);
    m_player.seek(fraction * m_player.duration());
}

void Scrubber::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    seekAt(event->position().x());
}

void Scrubber::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(event);
    seekAt(event->position().x());
}

bool Scrubber::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            const QRect marker = markerRect()->toAlignedRect();
            QToolTip::showText(help->globalPos(), text, this, marker);
        }
        return true;
    }
    return QWidget::event(event);
}
