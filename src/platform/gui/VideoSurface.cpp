#include "platform/gui/VideoSurface.h"

#include "platform/gui/MpvPlayer.h"

#include <mpv/render_gl.h>

#include <QOpenGLContext>
#include <QOpenGLFunctions>

namespace {

void *procAddress(void *, const char *name)
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void *>(context->getProcAddress(name)) : nullptr;
}

} // namespace

VideoSurface::VideoSurface(QWidget *parent) : QOpenGLWidget(parent)
{
    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
        if (m_render)
            mpv_render_context_report_swap(m_render);
    });
}

VideoSurface::~VideoSurface()
{
    // The base class destroys the context later, when this is no longer a VideoSurface.
    disconnect(m_contextGone);
    detach();
}

void VideoSurface::setPlayer(MpvPlayer *player)
{
    if (player == m_player)
        return;
    detach();
    disconnect(m_closing);
    m_player = player;
    if (player) {
        // The render context must be gone before the player's handle is.
        m_closing = connect(player, &MpvPlayer::closing, this, [this] {
            detach();
            m_player = nullptr;
        });
    }
    attach();
    update();
}

void VideoSurface::initializeGL()
{
    // A widget moved to another window gets a new context; the render context belongs to the old one.
    disconnect(m_contextGone);
    m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &VideoSurface::detach,
                            Qt::DirectConnection);
    attach();
}

void VideoSurface::attach()
{
    if (m_render || !m_player || !m_player->handle() || !context())
        return;
    makeCurrent();
    mpv_opengl_init_params glParameters{&procAddress, nullptr};
    // Without advanced control mpv never waits for this thread, so drawing cannot stall playback.
    int advancedControl = 0;
    mpv_render_param parameters[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glParameters},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advancedControl},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_create(&m_render, m_player->handle(), parameters) < 0)
        m_render = nullptr;
    else
        mpv_render_context_set_update_callback(m_render, &VideoSurface::renderWanted, this);
    doneCurrent();
}

void VideoSurface::detach()
{
    if (!m_render)
        return;
    makeCurrent();
    // Returns once no update callback runs any more.
    mpv_render_context_set_update_callback(m_render, nullptr, nullptr);
    mpv_render_context_free(m_render);
    m_render = nullptr;
    doneCurrent();
}

void VideoSurface::renderWanted(void *context)
{
    // Any thread; mpv must not be called from here.
    auto *self = static_cast<VideoSurface *>(context);
    if (self->m_updatePosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        self,
        [self] {
            self->m_updatePosted.store(false);
            self->update();
        },
        Qt::QueuedConnection);
}

void VideoSurface::paintGL()
{
    QOpenGLFunctions *gl = context()->functions();
    gl->glClearColor(0, 0, 0, 1);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    if (!m_render)
        return;
    const qreal ratio = devicePixelRatioF();
    mpv_opengl_fbo target{int(defaultFramebufferObject()), int(width() * ratio), int(height() * ratio), 0};
    int flipY = 1;
    int waitForFrameTime = 0; // never hold the GUI thread until a frame is due
    mpv_render_param parameters[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &target},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &waitForFrameTime},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(m_render, parameters);
}
