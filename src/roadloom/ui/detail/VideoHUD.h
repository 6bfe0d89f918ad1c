#pragma once

#include "roadcore/Telemetry.h"

#include <QString>
#include <QWidget>

#include <optional>

class AppModel;

// The capsule in the stage's bottom-left corner with the wall-clock time, the speed and the G-force at the
// playhead. Hidden without media or without any of the three. Clicks go through it to the stage.
class VideoHUD : public QWidget {
    Q_OBJECT
public:
    // What the capsule shows; each line absent when its value is.
    struct Readout {
        std::optional<QString> clock;
        std::optional<QString> speed;
        std::optional<QString> gForce;
        bool gForceHigh = false; // above 1.8 g: drawn red
        bool isEmpty() const { return !clock && !speed && !gForce; }
        friend bool operator==(const Readout &, const Readout &) = default;
    };

    static constexpr double highG = 1.8;

    explicit VideoHUD(AppModel &model, QWidget *parent = nullptr);

    // The readout at the player's playhead now.
    Readout readout() const;
    static Readout readout(const Telemetry &telemetry, double time, const std::optional<QDateTime> &clipDate,
                           SpeedUnit unit);

    QSize sizeHint() const override;

    // The capsule as an image, for a video canvas that draws it over the picture; a widget cannot draw over
    // a native window. Once drawn elsewhere, the widget keeps its place and size but paints nothing itself.
    QImage picture(qreal devicePixelRatio);
    void setDrawnElsewhere(bool elsewhere);

signals:
    // What the capsule shows, its size or whether it shows changed.
    void pictureChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Item {
        QString symbol;
        QString text;
        QString widthTemplate; // the text with every digit the widest one
        bool red = false;
    };
    void refresh();
    void draw(QPainter &painter, qreal ratio) const;
    QList<Item> items() const;
    int itemWidth(const Item &item) const;

    AppModel &m_model;
    Readout m_readout;
    QSize m_size;
    bool m_drawnElsewhere = false;
};
