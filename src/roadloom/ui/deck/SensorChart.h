#pragma once

#include "roadcore/Telemetry.h"

#include <QImage>
#include <QList>
#include <QPolygonF>
#include <QWidget>

// The three G-sensor axes against time, with a playhead. The lines, grid and labels are drawn once into an
// image when the samples, the duration or the size change; a playhead tick copies the image and draws one
// line. Pressing or dragging anywhere asks to seek to the time under the pointer, not limited to the axis.
class SensorChart : public QWidget {
    Q_OBJECT
public:
    static constexpr double lineWidth = 1.3;
    static constexpr double playheadWidth = 1.5;

    explicit SensorChart(QWidget *parent = nullptr);

    void setSamples(const QList<SensorSample> &samples);
    // The length of the time axis; under a second the axis still spans one second.
    void setDuration(double seconds);
    void setCurrentTime(double seconds);

    double axisLength() const;
    // The area the lines are drawn in, in the widget's coordinates.
    QRectF plotRect() const;
    double xOf(double seconds) const;
    double timeAt(double x) const;
    double yOf(double g) const;
    // The marks of the axes, for tests and tools.
    QList<double> timeMarks() const;
    QList<double> valueMarks() const;
    // A label of an axis and the box it is drawn in; the time labels are the ones shown, those that would
    // run into the one before are left out.
    struct AxisLabel {
        QRectF rect;
        QString text;
    };
    QList<AxisLabel> valueLabels() const;
    QList<AxisLabel> timeLabels() const;
    // The y range shown.
    double low() const { return m_low; }
    double high() const { return m_high; }

    // The time marks' step: the smallest of 1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15, 30 min, 1 h, … that
    // gives at most seven marks.
    static double timeStep(double axisLength);
    // Near five marks on steps of 1, 2 or 5 times a power of ten; flat data shows ±0.5 g.
    static void valueScale(double minimum, double maximum, double &low, double &high, double &step);
    // The label of a time mark: the shared time text without its tenths.
    static QString timeLabel(double seconds);
    // One axis of the samples as one polyline: of each pixel column's samples the first, the lowest, the
    // highest and the last, in time order (which rasterises like every sample); gaps wider than two pixels
    // follow a monotone cubic through the samples, flattened to pieces of at most two pixels.
    struct Mapping {
        double x0 = 0, xScale = 1; // pixels = x0 + seconds × xScale
        double y0 = 0, yScale = 1; // pixels = y0 + g × yScale
        QPointF operator()(double t, double v) const { return {x0 + t * xScale, y0 + v * yScale}; }
    };
    static QPolygonF lineFor(const QList<SensorSample> &samples, double (*axis)(const SensorSample &),
                             const Mapping &map);

signals:
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void invalidate();
    void rescale();
    void rebuild();

    QList<SensorSample> m_samples;
    double m_duration = 0;
    double m_time = 0;
    double m_low = -0.5, m_high = 0.5, m_step = 0.5;
    QImage m_image;
    bool m_imageValid = false;
    bool m_dragging = false;
};
