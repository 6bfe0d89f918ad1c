#pragma once

#include <QRect>
#include <QWidget>

#include <array>

class AppModel;
class MapPanel;
class SensorPanel;
class SpeedPanel;

// The strip of three cards under the video: the route map, the speed dial and the G-sensor chart. The
// speed card keeps its width; the map and the chart share what is left. In a column too narrow for the
// three at their least widths, all three shrink together (see cardRects), down to stackWidth; narrower
// still, the chart goes under the other two and takes the deck's whole width, so every card stays in view
// with its control whole and nothing has to scroll.
class TelemetryDeck : public QWidget {
    Q_OBJECT
public:
    static constexpr int spacing = 10;
    static constexpr int padding = 10;
    // The least width at which the three cards fit at their own least widths (map 240, speed 210,
    // G-sensor 280).
    static constexpr int fullWidth = 240 + 210 + 280 + 2 * spacing + 2 * padding;

    // The least width at which the shrunken cards still show their controls and figures whole in one row
    // (narrower, the speed card would cut its figures): below it the deck is two rows.
    static constexpr int stackWidth = 458;
    // The chart's row's share, in percent, of the height of a deck in two rows.
    static constexpr int bottomShare = 45;

    explicit TelemetryDeck(AppModel &model, QWidget *parent = nullptr);

    MapPanel *mapPanel() const { return m_map; }
    SpeedPanel *speedPanel() const { return m_speed; }
    SensorPanel *sensorPanel() const { return m_sensor; }
    // Whether the chart lies under the map and the speed card.
    bool isStacked() const { return width() < stackWidth; }

    // Where the map, speed and G-sensor cards go in a deck of this size.
    static std::array<QRect, 3> cardRects(const QSize &size);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeCards();

    MapPanel *m_map;
    SpeedPanel *m_speed;
    SensorPanel *m_sensor;
    bool m_stacked = false;
};
