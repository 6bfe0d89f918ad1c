#pragma once

#include "platform/gui/SlippyMap.h"
#include "roadloom/model/MapStyleChoice.h"
#include "roadloom/ui/deck/Card.h"

#include <QString>

#include <optional>

class AppModel;
class ContentUnavailableWidget;
class QComboBox;
class QStackedWidget;
class QToolButton;

// The left card of the telemetry deck: the recording's GPS route on a map with its start, its strongest
// jolt and the vehicle at the playhead. While following, the camera moves to the vehicle each time the
// playhead enters another half second; moving the map so that the vehicle leaves the middle stops it.
class MapPanel : public Card {
    Q_OBJECT
public:
    static constexpr int minimumWidth = 240;
    static constexpr double followGround = 700; // metres of ground over the map's height
    static constexpr int followMoveMs = 500;
    static constexpr double followMargin = 0.35; // of the visible span, from the centre
    static constexpr double peakThreshold = 1.5; // g

    explicit MapPanel(AppModel &model, QWidget *parent = nullptr);

    // The layers of a style from the tile templates; a template that is not http(s) with {z}, {x} and {y}
    // is left out, and a style without its satellite layer draws the street map.
    static QList<MapLayer> layers(MapStyleChoice style, const QString &street, const QString &satellite,
                                  const QString &labels);

    bool isFollowing() const { return m_follow; }
    SlippyMap *map() const { return m_map; }
    ContentUnavailableWidget *placeholder() const { return m_placeholder; }
    bool showsMap() const;
    QToolButton *followButton() const { return m_followButton; }
    QComboBox *styleMenu() const { return m_styleMenu; }

protected:
    void paletteChanged() override;
    void setAccessoryCompact(bool compact) override;

private:
    void telemetryChanged();
    void clipChanged();
    void tick(double time);
    void cameraChangeEnded(bool byUser);
    void toggleFollow();
    void setFollow(bool follow);
    void frameRoute(bool animated);
    void applyStyle();

    AppModel &m_model;
    QStackedWidget *m_stack = nullptr;
    SlippyMap *m_map = nullptr;
    ContentUnavailableWidget *m_placeholder = nullptr;
    QToolButton *m_followButton = nullptr;
    QComboBox *m_styleMenu = nullptr;

    bool m_follow = true;
    bool m_followMoving = false; // the camera's last move was to the vehicle
    qint64 m_halfSecond = 0;
    std::optional<QString> m_clipID;
};
