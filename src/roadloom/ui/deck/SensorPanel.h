#pragma once

#include "roadloom/ui/deck/Card.h"

class AppModel;
class ContentUnavailableWidget;
class QLabel;
class QStackedWidget;
class SensorChart;

// The right card of the telemetry deck: the G-sensor's three axes against time, with a playhead the user
// clicks or drags to seek, and the values at the playhead in the header. Without samples, a placeholder.
class SensorPanel : public Card {
    Q_OBJECT
public:
    static constexpr int minimumWidth = 280;

    explicit SensorPanel(AppModel &model, QWidget *parent = nullptr);

    SensorChart *chart() const { return m_chart; }
    ContentUnavailableWidget *placeholder() const { return m_placeholder; }
    bool showsChart() const;
    // The header's values, "+0.03" style, empty when there is no sample.
    QStringList readout() const;

protected:
    void paletteChanged() override;
    void setAccessoryCompact(bool compact) override;

private:
    void telemetryChanged();
    void durationChanged();
    void tick(double time);

    AppModel &m_model;
    QStackedWidget *m_stack;
    SensorChart *m_chart;
    ContentUnavailableWidget *m_placeholder;
    QWidget *m_readout;
    QLabel *m_values[3];
    QLabel *m_names[3] = {};
    QWidget *m_dots[3] = {};
};
