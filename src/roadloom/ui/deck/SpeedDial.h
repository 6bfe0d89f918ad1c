#pragma once

#include <QString>
#include <QVariantAnimation>
#include <QWidget>

// A 270° gauge open at the bottom: a track, a value arc growing clockwise from the lower left in green,
// yellow, orange and red, and the number with its unit in the middle.
class SpeedDial : public QWidget {
    Q_OBJECT
public:
    static constexpr int lineWidth = 10;
    static constexpr int animationMs = 250;

    explicit SpeedDial(QWidget *parent = nullptr);

    // The speed to show, already in the display unit.
    void setValue(double value);
    // The speed at which the gauge is full.
    void setMaximum(double maximum);
    void setUnit(const QString &unit);
    // Without a speed the number reads "--".
    void setActive(bool active);

    double value() const { return m_value; }
    // The part of the arc filled once the animation settles, 0…1.
    double fraction() const;
    // The part filled now.
    double shownFraction() const { return m_shown; }
    QString numberText() const;
    QString unit() const { return m_unit; }

    // The square the gauge is drawn in, and its arc's radius.
    QRectF dialRect() const;
    // The side the dial's figures are sized for.
    static constexpr double fullSide = 100;

    QSize sizeHint() const override { return QSize(100, 100); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void animateToFraction();

    double m_value = 0;
    double m_maximum = 160;
    QString m_unit;
    bool m_active = false;
    double m_shown = 0;
    double m_painted = -1; // m_shown when last painted
    bool arcMovedVisibly() const;
    QVariantAnimation m_animation;
};
