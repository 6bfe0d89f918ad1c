#pragma once

#include <QWidget>

class AppModel;
class MapPanel;
class SensorPanel;
class SpeedPanel;

// The strip of three cards under the video: the route map, the speed dial and the G-sensor chart. The
// speed card keeps its width; the map and the chart share what is left.
class TelemetryDeck : public QWidget {
    Q_OBJECT
public:
    static constexpr int spacing = 10;
    static constexpr int padding = 10;

    explicit TelemetryDeck(AppModel &model, QWidget *parent = nullptr);

    MapPanel *mapPanel() const { return m_map; }
    SpeedPanel *speedPanel() const { return m_speed; }
    SensorPanel *sensorPanel() const { return m_sensor; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    MapPanel *m_map;
    SpeedPanel *m_speed;
    SensorPanel *m_sensor;
};
