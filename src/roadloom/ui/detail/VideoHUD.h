#pragma once

#include "roadcore/Telemetry.h"

#include <QString>
#include <QWidget>

#include <optional>

class AppModel;

// The capsule in the stage's bottom-left corner with the wall-clock time, the speed and the G-force at the
// playhead. Hidden without media or without any of the three. Clicks go through it to the stage. On a stage
// too narrow for one row it breaks into rows, then leaves out the symbols, and only then is drawn smaller:
// no figure is ever cut at the stage's edge.
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

    // How the capsule is laid out within the room the stage leaves it.
    struct Arrangement {
        QList<QList<int>> rows; // positions in the shown items, row by row
        bool symbols = true;
        double scale = 1;
        QSize size; // on the screen, scale applied
    };
    const Arrangement &arrangement() const { return m_arrangement; }

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
    bool eventFilter(QObject *watched, QEvent *event) override;

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
    int itemWidth(const Item &item, bool symbol = true) const;
    // The room the stage leaves the capsule: all of it but the margin on each side.
    QSize room() const;
    Arrangement arrange(const QList<Item> &list, const QSize &room) const;
    QSize unscaledSize(const QList<Item> &list, const QList<QList<int>> &rows, bool symbols) const;

    AppModel &m_model;
    Readout m_readout;
    Arrangement m_arrangement;
    QSize m_size;
    bool m_drawnElsewhere = false;
};
