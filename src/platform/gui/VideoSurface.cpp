#include "platform/gui/VideoSurface.h"

#include "platform/gui/MpvPlayer.h"
#include "platform/gui/MpvRenderer.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>

VideoSurface::VideoSurface(QWidget *parent) : QOpenGLWidget(parent), m_renderer(new MpvRenderer(this))
{
    connect(m_renderer, &MpvRenderer::frameWanted, this, qOverload<>(&QWidget::update));
    connect(this, &QOpenGLWidget::frameSwapped, m_renderer, &MpvRenderer::reportSwap);
}

VideoSurface::~VideoSurface()
{
    // The base class destroys the GL context later, when this is no longer a VideoSurface.
    delete m_renderer;
}

void VideoSurface::setPlayer(MpvPlayer *player)
{
    m_renderer->setPlayer(player);
    update();
}

MpvPlayer *VideoSurface::player() const
{
    return m_renderer->player();
}

void VideoSurface::initializeGL()
{
    m_renderer->attach();
}

void VideoSurface::paintGL()
{
    QOpenGLFunctions *gl = context()->functions();
    gl->glClearColor(0, 0, 0, 1);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    m_renderer->takeNewFrame();
    const qreal ratio = devicePixelRatioF();
    m_renderer->render(defaultFramebufferObject(), QSize(int(width() * ratio), int(height() * ratio)), true);
}
