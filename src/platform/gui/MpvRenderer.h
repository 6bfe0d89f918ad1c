#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>

#include <atomic>

struct mpv_render_context;
class MpvPlayer;
class QOpenGLContext;
class QSurface;

// The render context through which one MpvPlayer (built with the "libmpv" video output) draws into a GL
// context, made current on a surface. mpv ends a file whose render context goes away and never starts one
// loaded before a context exists, so a host creates it once and keeps it; the player holds its loads until
// then. GUI thread only.
class MpvRenderer final : public QObject {
    Q_OBJECT
public:
    // The GL context may be created later (attach() then makes the render context); should it be destroyed
    // first, the render context goes with it.
    MpvRenderer(QOpenGLContext *context, QSurface *surface, QObject *parent = nullptr);
    ~MpvRenderer() override;

    // nullptr lets go of the current player. A new player's context is made at once when the GL context
    // exists, else by the next attach().
    void setPlayer(MpvPlayer *player);
    MpvPlayer *player() const { return m_player; }

    // Creates the render context in the GL context; does nothing when there is one or no player.
    void attach();
    // Frees the render context (the player then holds its next load again).
    void detach();
    bool isAttached() const { return m_render != nullptr; }

    // Whether mpv has a new frame for this context; clears the request.
    bool takeNewFrame();
    // Draws the current frame into a framebuffer object of the GL context, fitted on black. Pass
    // flipY for the window's own framebuffer, whose rows run bottom up.
    void render(unsigned framebuffer, QSize pixels, bool flipY);
    // Takes the waiting frame without drawing it: mpv holds a player's video until each frame is drawn.
    void skip();
    // Tells mpv a frame went to the screen; the host calls it after every swap, for every render context.
    void reportSwap();

signals:
    // mpv has something to draw; queued to the GUI thread, at most one waiting.
    void frameWanted();

private:
    class Current;
    static void updateWanted(void *context);

    QPointer<QOpenGLContext> m_context;
    QSurface *m_surface;
    QPointer<MpvPlayer> m_player;
    QMetaObject::Connection m_closing;
    QMetaObject::Connection m_contextGone;
    mpv_render_context *m_render = nullptr;
    std::atomic_bool m_updatePosted{false};
};
