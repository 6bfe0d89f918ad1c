#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>

#include <atomic>

struct mpv_render_context;
class MpvPlayer;
class QOpenGLContext;
class QOpenGLWidget;
class StageCanvas;

// The render context through which one MpvPlayer (built with the "libmpv" video output) draws into the GL
// context of a host widget or window. mpv ends a file whose render context goes away and never starts one
// loaded before a context exists, so a host creates it once and keeps it; the player holds its loads until
// then. GUI thread only.
class MpvRenderer final : public QObject {
    Q_OBJECT
public:
    explicit MpvRenderer(QOpenGLWidget *host);
    explicit MpvRenderer(StageCanvas *host);
    ~MpvRenderer() override;

    // nullptr lets go of the current player. A new player's context is made at once when the host's GL
    // context exists, else by the next attach().
    void setPlayer(MpvPlayer *player);
    MpvPlayer *player() const { return m_player; }

    // Creates the render context in the host's GL context; does nothing when there is one or no player.
    void attach();
    // Frees the render context (the player then holds its next load again).
    void detach();
    bool isAttached() const { return m_render != nullptr; }

    // Whether mpv has a new frame for this context; clears the request.
    bool takeNewFrame();
    // Draws the current frame into a framebuffer object of the host's context, fitted on black. Pass
    // flipY for the window's own framebuffer, whose rows run bottom up.
    void render(unsigned framebuffer, QSize pixels, bool flipY);
    // Takes the waiting frame without drawing it: mpv holds a player's video until each frame is drawn.
    void skip();
    // Tells mpv a frame went to the screen; the host calls it after every swap, for every context.
    void reportSwap();

signals:
    // mpv has something to draw; queued to the GUI thread, at most one waiting.
    void frameWanted();

private:
    class HostCurrent;
    static void updateWanted(void *context);
    QOpenGLContext *hostContext() const;
    void makeHostCurrent();
    void doneHostCurrent();

    QOpenGLWidget *m_widget = nullptr;
    StageCanvas *m_window = nullptr;
    QPointer<MpvPlayer> m_player;
    QMetaObject::Connection m_closing;
    QMetaObject::Connection m_contextGone;
    mpv_render_context *m_render = nullptr;
    std::atomic_bool m_updatePosted{false};
};
