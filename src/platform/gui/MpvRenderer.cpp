#include "platform/gui/MpvRenderer.h"

#include "platform/gui/MpvPlayer.h"

#include <mpv/render_gl.h>

#include <QLoggingCategory>
#include <QOpenGLContext>

Q_LOGGING_CATEGORY(rendererLog, "roadloom.player")

namespace {

void *procAddress(void *, const char *name)
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void *>(context->getProcAddress(name)) : nullptr;
}

} // namespace

// Makes the GL context current for a scope unless it already is (as inside the host's drawing).
class MpvRenderer::Current {
public:
    explicit Current(QOpenGLContext *context, QSurface *surface)
    {
        if (context && QOpenGLContext::currentContext() != context && context->makeCurrent(surface))
            m_made = context;
    }
    ~Current()
    {
        if (m_made)
            m_made->doneCurrent();
    }
    Current(const Current &) = delete;
    Current &operator=(const Current &) = delete;

private:
    QOpenGLContext *m_made = nullptr;
};

MpvRenderer::MpvRenderer(QOpenGLContext *context, QSurface *surface, QObject *parent)
    : QObject(parent), m_context(context), m_surface(surface)
{
}

MpvRenderer::~MpvRenderer()
{
    disconnect(m_contextGone);
    detach();
}

void MpvRenderer::setPlayer(MpvPlayer *player)
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
}

void MpvRenderer::attach()
{
    QOpenGLContext *gl = m_context;
    if (m_render || !m_player || !gl || !gl->isValid() || !m_player->handle())
        return;
    // The render context belongs to this GL context and cannot outlive it.
    disconnect(m_contextGone);
    m_contextGone = connect(
        gl, &QOpenGLContext::aboutToBeDestroyed, this,
        [this] {
            if (m_render && m_player && m_player->hasFile())
                qCWarning(rendererLog)
                    << "the video's GL context went away while a file was loaded; mpv ends it";
            detach();
        },
        Qt::DirectConnection);
    const Current current(gl, m_surface);
    mpv_opengl_init_params glParameters{&procAddress, nullptr};
    // Without advanced control mpv never waits for this thread, so drawing cannot stall playback.
    int advancedControl = 0;
    mpv_render_param parameters[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glParameters},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advancedControl},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_create(&m_render, m_player->handle(), parameters) < 0) {
        qCWarning(rendererLog) << "mpv refused a render context";
        m_render = nullptr;
        return;
    }
    mpv_render_context_set_update_callback(m_render, &MpvRenderer::updateWanted, this);
    m_player->setRenderAttached(true);
    emit frameWanted();
}

void MpvRenderer::detach()
{
    if (!m_render)
        return;
    {
        const Current current(m_context, m_surface);
        // Returns once no update callback runs any more.
        mpv_render_context_set_update_callback(m_render, nullptr, nullptr);
        mpv_render_context_free(m_render);
        m_render = nullptr;
    }
    if (m_player)
        m_player->setRenderAttached(false);
}

void MpvRenderer::updateWanted(void *context)
{
    // Any thread; mpv must not be called from here.
    auto *self = static_cast<MpvRenderer *>(context);
    if (self->m_updatePosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        self,
        [self] {
            self->m_updatePosted.store(false);
            emit self->frameWanted();
        },
        Qt::QueuedConnection);
}

bool MpvRenderer::takeNewFrame()
{
    return m_render && (mpv_render_context_update(m_render) & MPV_RENDER_UPDATE_FRAME);
}

void MpvRenderer::render(unsigned framebuffer, QSize pixels, bool flipY)
{
    if (!m_render || pixels.isEmpty())
        return;
    mpv_opengl_fbo target{int(framebuffer), pixels.width(), pixels.height(), 0};
    int flip = flipY ? 1 : 0;
    int waitForFrameTime = 0; // never hold the GUI thread until a frame is due
    mpv_render_param parameters[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &target},
        {MPV_RENDER_PARAM_FLIP_Y, &flip},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &waitForFrameTime},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(m_render, parameters);
}

void MpvRenderer::skip()
{
    if (!m_render)
        return;
    int skipRendering = 1;
    int waitForFrameTime = 0;
    mpv_render_param parameters[] = {
        {MPV_RENDER_PARAM_SKIP_RENDERING, &skipRendering},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &waitForFrameTime},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(m_render, parameters);
}

void MpvRenderer::reportSwap()
{
    if (m_render)
        mpv_render_context_report_swap(m_render);
}
