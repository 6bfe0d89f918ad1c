#pragma once

#include <QPoint>
#include <QWidget>

#include <optional>

class Preferences;

// The thin bar between the player and the telemetry deck. Dragging it up makes the deck taller, down
// shorter, within 200 to 520; "deckHeight" follows every move of the drag.
class DeckResizeHandle : public QWidget {
    Q_OBJECT
public:
    static constexpr int barHeight = 7;
    static constexpr int dragThreshold = 10;
    static constexpr double minimumHeight = 200;
    static constexpr double maximumHeight = 520;

    explicit DeckResizeHandle(Preferences &preferences, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Preferences &m_preferences;
    std::optional<QPointF> m_press; // global position of the press
    std::optional<double> m_start;  // the height when this drag began to change it
};
