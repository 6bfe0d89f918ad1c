#pragma once

#include <QOpenGLWidget>

class MpvPlayer;
class MpvRenderer;

// Draws the picture of one MpvPlayer built with the "libmpv" video output, fitted into the widget on
// black. A player is drawn by one surface at a time, and mpv ends the file when its surface lets go.
class VideoSurface : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit VideoSurface(QWidget *parent = nullptr);
    ~VideoSurface() override;

    // nullptr detaches.
    void setPlayer(MpvPlayer *player);
    MpvPlayer *player() const;

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    MpvRenderer *m_renderer;
};
