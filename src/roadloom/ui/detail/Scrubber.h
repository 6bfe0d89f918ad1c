#pragma once

#include "roadcore/Telemetry.h"

#include <QList>
#include <QRectF>
#include <QWidget>

#include <optional>
#include <vector>

class PlayerController;

// The timeline of the transport bar: the recording's G-sensor activity as bars coloured by playback
// progress and severity, a playhead and a marker at the strongest jolt. A press or a drag seeks.
// The bars take the middle 30 pixels; the widget reaches 7 pixels above them and 3 below, so the playhead
// and the marker have room. It paints its own background, so a playhead tick repaints nothing beneath it.
class Scrubber : public QWidget {
    Q_OBJECT
public:
    static constexpr int barHeight = 30;
    static constexpr int topReach = 7; // the transport bar's top padding but its separator line
    static constexpr int bottomReach = 3;
    static constexpr int binCount = 180;
    static constexpr double floorValue = 0.03;
    static constexpr double redThreshold = 0.66;
    static constexpr double markerThresholdG = 1.5;
    static inline const QString markerSymbol = QStringLiteral("exclamationmark.triangle.fill");

    explicit Scrubber(PlayerController &player, QWidget *parent = nullptr);

    // Per bin the largest |magnitude − 1| × 0.5 (capped at 1) of the samples in it, raised to at least 0.03.
    static std::vector<double> envelope(const QList<SensorSample> &samples, double duration, int bins);

    // The bars' rectangle, and the peak marker's when there is one.
    QRectF barRect() const;
    std::optional<QRectF> markerRect() const;
    // The marker's help text when the point is over it, else empty.
    QString toolTipAt(const QPointF &point) const;
    // The x of the playhead's centre.
    double playheadX() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

private:
    double span() const; // the duration, at least 1 ms
    double progress() const;
    void seekAt(double x);
    void rebuildEnvelope();
    void moveTo(double time);

    PlayerController &m_player;
    std::vector<double> m_envelope;
    std::optional<SensorSample> m_peak;
    double m_time = 0;
};
