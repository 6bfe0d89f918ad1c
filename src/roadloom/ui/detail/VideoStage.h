#pragma once

#include "platform/gui/StageGeometry.h"

#include <QPoint>
#include <QSizeF>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

class AppModel;
class BusyIndicator;
class ContentUnavailableWidget;
class QLabel;
class StageCanvas;
class VideoHUD;

// Where the recording plays: the main camera large under the user's zoom, pan, rotation and mirroring, the
// other camera in an inset, the heads-up display, and the loading or error overlay. It holds no playback
// state: every setting lives in the player controller, which the menus change too. Takes the gestures:
// a drag pans a zoomed picture, a pinch or Ctrl+wheel zooms, a double click toggles the zoom, a lone click
// plays or pauses, and a click on the inset swaps the cameras.
class VideoStage : public QWidget {
    Q_OBJECT
public:
    static constexpr int dragThreshold = 10;
    static constexpr double wheelZoomStep = 1.25; // per notch of 120

    // Sets the GL driver up aside, then calls `ready` on the receiver's thread; StageCanvas::prepareDriver
    // unless given.
    using DriverPreparation = std::function<void(QObject *receiver, std::function<void()> ready)>;

    explicit VideoStage(AppModel &model, QWidget *parent = nullptr, DriverPreparation prepareDriver = {});

    // Null until the stage first shows, and when the players draw nowhere (as in tests on scripted players).
    StageCanvas *canvas() const { return m_canvas; }
    VideoHUD *hud() const { return m_hud; }
    QWidget *loadingOverlay() const { return m_loading; }
    QLabel *convertingLabel() const { return m_converting; }
    ContentUnavailableWidget *errorOverlay() const { return m_error; }

    // Something of the window lies over the stage (the drop frame): widgets cannot draw over the canvas's
    // window, so it steps aside meanwhile.
    void setCovered(bool covered);

    // The view the stage shows now, from the player controller.
    StageView view() const;
    // The inset's rectangle in the stage, when it is shown.
    std::optional<QRectF> insetRect() const;

    QSize sizeHint() const override { return {640, 360}; }
    QSize minimumSizeHint() const override { return {200, 120}; }

signals:
    // "Open Settings…" on the error overlay.
    void settingsRequested();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void prepareCanvas();
    void makeCanvas();
    void syncCanvas();
    void syncOverlays();
    void syncReadout();
    void placeChildren();
    void zoomBy(double factor, double from);
    void toggleZoom();
    void swapCameras();

    AppModel &m_model;
    DriverPreparation m_prepareDriver;
    StageCanvas *m_canvas = nullptr;
    QWidget *m_canvasHost = nullptr; // the canvas's window among the widgets
    VideoHUD *m_hud;
    QWidget *m_loading;
    BusyIndicator *m_spinner;
    QLabel *m_converting;
    ContentUnavailableWidget *m_error;

    bool m_covered = false;
    bool m_preparingCanvas = false;
    bool m_animateNext = false; // the next change of the view eases (a double click, an inset click)

    // One press of the left button.
    std::optional<QPoint> m_press; // where it went down
    bool m_pressOnInset = false;
    bool m_dragging = false;
    bool m_afterDoubleClick = false; // the release that ends a double click is no click
    std::optional<QSizeF> m_dragStart;
    std::optional<double> m_pinchStart;
    double m_magnification = 1;
    QTimer m_singleClick;
};
