#pragma once

#include <QOpenGLWidget>
#include <QPointer>

#include <atomic>

struct mpv_render_context;
class MpvPlayer;

// Draws the picture of an MpvPlayer built with the "libmpv" video output, fitted into the widget on
// black. A player is drawn by one surface at a time; attach it before loading a file.
class VideoSurface : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit VideoSurface(QWidget *parent = nullptr);
    ~VideoSurface() override;

    // nullptr detaches.
    void setPlayer(MpvPlayer *player);
    MpvPlayer *player() const { return m_player; }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    static void renderWanted(void *context);
    void attach();
    void detach();

    QPointer<MpvPlayer> m_player;
    QMetaObject::Connection m_closing;
    QMetaObject::Connection m_contextGone;
    mpv_render_context *m_render = nullptr;
    std::atomic_bool m_updatePosted{false};
};
