#pragma once

#include "roadcore/Telemetry.h"
#include "roadloom/ui/deck/Card.h"

#include <optional>

class AppModel;
class QLabel;
class SegmentedControl;
class SpeedDial;

// The middle card of the telemetry deck: the GPS speed at the playhead on a dial, the heading with its
// compass point, the recording's top speed and the length of its route, in the user's speed unit, which
// the header's picker sets for every view.
class SpeedPanel : public Card {
    Q_OBJECT
public:
    static constexpr int fixedWidth = 210;
    static constexpr int dialSize = 100;

    explicit SpeedPanel(AppModel &model, QWidget *parent = nullptr);

    // The compass point of a heading: "N", "NE", … "NW", each 45° wide and centred on its direction;
    // any finite heading is taken modulo 360°; a non-finite one has none ("—").
    static QString compass(double heading);
    // A length in the unit's way: "999 m" and "1.00 km" for km/h, "1.00 mi" for mph.
    static QString distance(double metres, SpeedUnit unit);
    // The gauge's full speed: 160 km/h, 100 mph.
    static double gaugeMaximum(SpeedUnit unit);

    SpeedDial *dial() const { return m_dial; }
    SegmentedControl *unitPicker() const { return m_unitPicker; }
    // Heading, top speed and distance under the dial; left out of a card too short for them.
    QWidget *figures() const { return m_figures; }
    QString heading() const;
    QString topSpeed() const;
    QString distanceText() const;

protected:
    void paletteChanged() override;

private:
    void telemetryChanged();
    void unitChanged();
    void tick(double time);

    AppModel &m_model;
    SpeedDial *m_dial;
    SegmentedControl *m_unitPicker;
    QLabel *m_heading;
    QLabel *m_topSpeed;
    QLabel *m_distance;
    QWidget *m_figures;
    QList<QLabel *> m_names;
    // Worked out once a recording, not per tick.
    std::optional<double> m_topKnots;
    double m_distanceMetres = 0;
};
