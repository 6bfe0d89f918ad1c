#include "roadloom/ui/deck/SensorChart.h"

#include "roadloom/model/TimeText.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double topMargin = 6;
constexpr double rightMargin = 6;
constexpr double labelGap = 5;

double axisX(const SensorSample &s)
{
    return s.x;
}
double axisY(const SensorSample &s)
{
    return s.y;
}
double axisZ(const SensorSample &s)
{
    return s.z;
}

int decimalsFor(double step)
{
    return std::max(1, int(std::ceil(-std::log10(step) - 1e-9)));
}

} // namespace

SensorChart::SensorChart(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A narrow deck gives the chart little more than its labels; a deck in two rows, little height.
    setMinimumSize(80, 48);
}

void SensorChart::setSamples(const QList<SensorSample> &samples)
{
    m_samples = samples;
    rescale();
    invalidate();
}

void SensorChart::setDuration(double seconds)
{
    if (m_duration == seconds)
        return;
    m_duration = seconds;
    invalidate();
}

void SensorChart::setCurrentTime(double t)
{
    if (m_time == t)
        return;
    const double oldX = xOf(m_time), newX = xOf(t);
    m_time = t;
    const QRectF plot = plotRect();
    if (!std::isfinite(oldX) || !std::isfinite(newX)) {
        update();
        return;
    }
    const double left = std::clamp(std::min(oldX, newX), plot.left(), plot.right());
    const double right = std::clamp(std::max(oldX, newX), plot.left(), plot.right());
    update(QRectF(left - 2, plot.top() - 1, right - left + 4, plot.height() + 2).toAlignedRect());
}

double SensorChart::axisLength() const
{
    return std::isfinite(m_duration) ? std::max(m_duration, 1.0) : 1.0;
}

QRectF SensorChart::plotRect() const
{
    const QFontMetricsF metrics(TextStyles::caption());
    double labelWidth = 0;
    const int decimals = decimalsFor(m_step);
    for (double mark : valueMarks())
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(QString::number(mark, 'f', decimals)));
    const double left = std::ceil(labelWidth + labelGap);
    const double bottom = std::ceil(metrics.height() + 3);
    return QRectF(left, topMargin, std::max(1.0, width() - left - rightMargin),
                  std::max(1.0, height() - topMargin - bottom));
}

double SensorChart::xOf(double seconds) const
{
    const QRectF plot = plotRect();
    return plot.left() + seconds / axisLength() * plot.width();
}

double SensorChart::timeAt(double x) const
{
    const QRectF plot = plotRect();
    return (x - plot.left()) / plot.width() * axisLength();
}

double SensorChart::yOf(double g) const
{
    const QRectF plot = plotRect();
    return plot.bottom() - (g - m_low) / (m_high - m_low) * plot.height();
}

QList<double> SensorChart::timeMarks() const
{
    const double step = timeStep(axisLength());
    QList<double> marks;
    for (int i = 0; i * step <= axisLength() + 1e-9; ++i)
        marks.append(i * step);
    return marks;
}

QList<SensorChart::AxisLabel> SensorChart::valueLabels() const
{
    const QFontMetricsF metrics(TextStyles::caption());
    const double right = plotRect().left() - labelGap;
    const int decimals = decimalsFor(m_step);
    QList<AxisLabel> labels;
    for (double mark : valueMarks()) {
        const QString text = QString::number(mark, 'f', decimals);
        const double w = metrics.horizontalAdvance(text);
        const double y = std::round(yOf(mark)) + 0.5;
        labels.append({QRectF(right - w, y - metrics.height() / 2, w, metrics.height()), text});
    }
    return labels;
}

QList<SensorChart::AxisLabel> SensorChart::timeLabels() const
{
    const QFontMetricsF metrics(TextStyles::caption());
    const QRectF plot = plotRect();
    QList<AxisLabel> labels;
    double labelsEnd = -std::numeric_limits<double>::infinity();
    for (double mark : timeMarks()) {
        const QString text = timeLabel(mark);
        const double w = metrics.horizontalAdvance(text);
        // Centred on its mark, but never reaching left of the plot, where the value labels stand.
        const double left = std::max(plot.left(), std::min(std::round(xOf(mark)) + 0.5 - w / 2, width() - w));
        if (left < labelsEnd + labelGap)
            continue;
        labels.append({QRectF(left, plot.bottom() + 2, w, metrics.height()), text});
        labelsEnd = left + w;
    }
    return labels;
}

QList<double> SensorChart::valueMarks() const
{
    QList<double> marks;
    for (int i = 0; m_low + i * m_step <= m_high + m_step * 1e-6; ++i) {
        const double v = m_low + i * m_step;
        marks.append(std::abs(v) < m_step * 1e-6 ? 0.0 : v);
    }
    return marks;
}

double SensorChart::timeStep(double axisLength)
{
    static const double steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    for (double step : steps)
        if (axisLength / step < 7)
            return step;
    double step = 3600;
    while (axisLength / step >= 7)
        step *= 2;
    return step;
}

void SensorChart::valueScale(double minimum, double maximum, double &low, double &high, double &step)
{
    if (!std::isfinite(minimum) || !std::isfinite(maximum)) {
        minimum = maximum = 0;
    }
    if (maximum - minimum < 1e-9) {
        minimum -= 0.5;
        maximum += 0.5;
    }
    const double rough = (maximum - minimum) / 4;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    step = power * 10;
    for (double candidate : {1.0, 2.0, 5.0})
        if (candidate * power >= rough) {
            step = candidate * power;
            break;
        }
    low = std::floor(minimum / step + 1e-9) * step;
    high = std::ceil(maximum / step - 1e-9) * step;
}

QString SensorChart::timeLabel(double seconds)
{
    const QString text = timeString(seconds);
    const qsizetype dot = text.indexOf(u'.');
    return dot < 0 ? text : text.left(dot);
}

QPolygonF SensorChart::lineFor(const QList<SensorSample> &samples, double (*axis)(const SensorSample &),
                               const Mapping &map)
{
    QPolygonF line;
    const qsizetype n = samples.size();
    if (n == 0)
        return line;
    // Fritsch–Carlson tangents: a cubic through every sample that never leaves its neighbours' range.
    std::vector<double> slope(std::max<qsizetype>(n - 1, 1), 0), tangent(n, 0);
    for (qsizetype i = 0; i + 1 < n; ++i) {
        const double dt = samples[i + 1].time - samples[i].time;
        const double s = dt > 0 ? (axis(samples[i + 1]) - axis(samples[i])) / dt : 0;
        slope[i] = std::isfinite(s) ? s : 0;
    }
    if (n > 1) {
        tangent[0] = slope[0];
        tangent[n - 1] = slope[n - 2];
    }
    for (qsizetype i = 1; i + 1 < n; ++i)
        tangent[i] = slope[i - 1] * slope[i] <= 0 ? 0 : (slope[i - 1] + slope[i]) / 2;
    for (qsizetype i = 0; i + 1 < n; ++i) {
        if (slope[i] == 0) {
            tangent[i] = tangent[i + 1] = 0;
            continue;
        }
        const double a = tangent[i] / slope[i], b = tangent[i + 1] / slope[i];
        const double s = a * a + b * b;
        if (s > 9) {
            const double tau = 3 / std::sqrt(s);
            tangent[i] = tau * a * slope[i];
            tangent[i + 1] = tau * b * slope[i];
        }
    }

    // A column's first, lowest, highest and last sample, as indices; a flat column keeps its first and
    // last, so the line runs on through it.
    struct Column {
        double x = 0;
        qsizetype first = -1, low = -1, high = -1, last = -1;
    } column;
    std::vector<QPointF> points(n);
    auto append = [&line](const QPointF &p) {
        if (line.isEmpty() || line.last() != p)
            line.append(p);
    };
    auto flush = [&] {
        if (column.first < 0)
            return;
        qsizetype order[] = {column.first, std::min(column.low, column.high),
                             std::max(column.low, column.high), column.last};
        for (qsizetype i : order)
            append(points[i]);
    };
    line.reserve(4096);
    qsizetype previous = -1;
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF p = map(samples[i].time, axis(samples[i]));
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
            continue;
        points[i] = p;
        const double c = std::floor(p.x());
        if (column.first >= 0 && c == column.x) {
            if (p.y() < points[column.low].y())
                column.low = i;
            if (p.y() > points[column.high].y())
                column.high = i;
            column.last = i;
            previous = i;
            continue;
        }
        flush();
        const double h = previous < 0 ? 0 : samples[i].time - samples[previous].time;
        const double gap = previous < 0 ? 0 : p.x() - points[previous].x();
        if (gap > 2 && h > 0) {
            const int pieces = int(std::ceil(gap / 2));
            const double y0 = axis(samples[previous]), y1 = axis(samples[i]);
            for (int k = 1; k < pieces; ++k) {
                const double s = double(k) / pieces;
                const double s2 = s * s, s3 = s2 * s;
                const double v = (2 * s3 - 3 * s2 + 1) * y0 + (s3 - 2 * s2 + s) * h * tangent[previous] +
                                 (-2 * s3 + 3 * s2) * y1 + (s3 - s2) * h * tangent[i];
                append(map(samples[previous].time + s * h, v));
            }
        }
        column = {c, i, i, i, i};
        previous = i;
    }
    flush();
    if (line.size() == 1) {
        // One point still shows as a short dash of the line's width.
        const QPointF p = line.first();
        line = QPolygonF{p - QPointF(lineWidth / 2, 0), p + QPointF(lineWidth / 2, 0)};
    }
    return line;
}

void SensorChart::invalidate()
{
    m_imageValid = false;
    update();
}

void SensorChart::rescale()
{
    double minimum = std::numeric_limits<double>::infinity(), maximum = -minimum;
    for (const SensorSample &s : std::as_const(m_samples))
        for (double v : {s.x, s.y, s.z})
            if (std::isfinite(v)) {
                minimum = std::min(minimum, v);
                maximum = std::max(maximum, v);
            }
    if (!std::isfinite(minimum))
        minimum = maximum = 0;
    valueScale(minimum, maximum, m_low, m_high, m_step);
}

void SensorChart::rebuild()
{
    const double ratio = devicePixelRatioF();
    const QSize size = this->size() * ratio;
    if (m_image.size() != size) {
        m_image = QImage(size, QImage::Format_ARGB32_Premultiplied);
        m_image.setDevicePixelRatio(ratio);
    }
    m_image.fill(palette().color(QPalette::Window));
    QPainter painter(&m_image);
    const QRectF plot = plotRect();
    const QFont font = TextStyles::caption();
    const QFontMetricsF metrics(font);
    painter.setFont(font);

    // Grid and labels.
    QList<QLineF> grid;
    for (double mark : valueMarks()) {
        const double y = std::round(yOf(mark)) + 0.5;
        grid.append(QLineF(plot.left(), y, plot.right(), y));
    }
    for (double mark : timeMarks()) {
        const double x = std::round(xOf(mark)) + 0.5;
        grid.append(QLineF(x, plot.top(), x, plot.bottom()));
    }
    painter.setPen(Palette::secondaryText(palette()));
    for (const AxisLabel &label : valueLabels())
        painter.drawText(label.rect, Qt::AlignRight | Qt::AlignVCenter, label.text);
    for (const AxisLabel &label : timeLabels())
        painter.drawText(QPointF(label.rect.left(), label.rect.top() + metrics.ascent()), label.text);
    painter.setPen(QPen(Palette::separator(palette()), 1));
    painter.drawLines(grid);

    // The lines, clipped to the plot.
    painter.setClipRect(plot.adjusted(-1, -1, 1, 1));
    painter.setRenderHint(QPainter::Antialiasing);
    const double yScale = -plot.height() / (m_high - m_low);
    const Mapping map{plot.left(), plot.width() / axisLength(), plot.bottom() - m_low * yScale, yScale};
    const struct {
        double (*axis)(const SensorSample &);
        QColor color;
    } axes[] = {{axisX, Palette::red(palette())},
                {axisY, Palette::green(palette())},
                {axisZ, Palette::blue(palette())}};
    QList<QLineF> segments;
    for (const auto &a : axes) {
        // The polyline as separate segments: Qt rasterises a batch of straight segments directly, where a
        // polyline goes through the general stroker (several times slower for a long recording). Square caps
        // let each segment reach into the next, so a join never leaves a gap, also where the line turns back
        // on itself within a column.
        painter.setPen(QPen(a.color, lineWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        const QPolygonF line = lineFor(m_samples, a.axis, map);
        segments.clear();
        for (qsizetype i = 1; i < line.size(); ++i)
            segments.append(QLineF(line[i - 1], line[i]));
        painter.drawLines(segments);
    }
    m_imageValid = true;
}

void SensorChart::paintEvent(QPaintEvent *event)
{
    if (!m_imageValid)
        rebuild();
    QPainter painter(this);
    const QRectF area = event->rect();
    painter.drawImage(
        area, m_image,
        QRectF(area.topLeft() * m_image.devicePixelRatio(), area.size() * m_image.devicePixelRatio()));
    const double x = xOf(m_time);
    if (!std::isfinite(x))
        return;
    const QRectF plot = plotRect();
    painter.setClipRect(plot.adjusted(-1, -1, 1, 1));
    QColor color = Palette::primaryText(palette());
    color.setAlphaF(0.7f);
    painter.fillRect(QRectF(x - playheadWidth / 2, plot.top(), playheadWidth, plot.height()), color);
}

void SensorChart::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_imageValid = false;
}

void SensorChart::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        invalidate();
}

void SensorChart::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_dragging = true;
    emit seekRequested(timeAt(event->position().x()));
}

void SensorChart::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return QWidget::mouseMoveEvent(event);
    emit seekRequested(timeAt(event->position().x()));
}

void SensorChart::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}
