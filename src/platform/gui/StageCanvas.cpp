#include "platform/gui/StageCanvas.h"

#include "platform/gui/GLDriverPreload.h"
#include "platform/gui/MpvPlayer.h"
#include "platform/gui/MpvRenderer.h"

#include <QEasingCurve>
#include <QGuiApplication>
#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QPainter>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <cmath>

namespace {

// Positions in device pixels with the origin at the top left; the picture's rows run top down in its
// texture, as mpv draws them into a framebuffer object without flipping.
const char *vertexShader = R"(
attribute vec2 position;
attribute vec2 texCoord;
uniform vec2 viewport;
varying vec2 vTex;
varying vec2 vPos;
void main()
{
    vTex = texCoord;
    vPos = position;
    gl_Position = vec4(position.x / viewport.x * 2.0 - 1.0, 1.0 - position.y / viewport.y * 2.0, 0.0, 1.0);
}
)";

// One program per kind of quad, so that a software renderer, which runs every branch of a shader for
// every pixel, samples and computes only what the kind needs. SHADE 0: the picture; 1: the picture
// clipped to a rounded box with a border inside it; 2: the box's shadow; 3: a premultiplied picture as
// it is. The output is premultiplied.
const char *fragmentShader = R"(
uniform sampler2D picture;
uniform vec4 box;
uniform float radius;
uniform float line;
uniform float blur;
varying vec2 vTex;
varying vec2 vPos;
float boxDistance(vec2 p)
{
    vec2 q = abs(p - box.xy) - box.zw + vec2(radius);
    return length(max(q, 0.0)) + min(max(q.x, q.y), 0.0) - radius;
}
void main()
{
#if SHADE == 0
    gl_FragColor = vec4(texture2D(picture, vTex).rgb, 1.0);
#elif SHADE == 3
    gl_FragColor = texture2D(picture, vTex);
#elif SHADE == 1
    float d = boxDistance(vPos);
    float cover = clamp(0.5 - d, 0.0, 1.0);
    float ring = cover - clamp(0.5 - (d + line), 0.0, 1.0);
    vec3 colour = mix(texture2D(picture, vTex).rgb, vec3(1.0), 0.35 * ring);
    gl_FragColor = vec4(colour * cover, cover);
#else
    gl_FragColor = vec4(0.0, 0.0, 0.0, 0.5 * (1.0 - smoothstep(-blur, blur, boxDistance(vPos))));
#endif
}
)";

double lerp(double a, double b, double t)
{
    return a + (b - a) * t;
}

} // namespace

StageCanvas::StageCanvas(MpvPlayer *front, MpvPlayer *rear, QWindow *parent) : QWindow(parent)
{
    setSurfaceType(QSurface::OpenGLSurface);
    setFlag(Qt::WindowTransparentForInput);
    setFormat(QSurfaceFormat::defaultFormat());
    // Made now, created below: the renderers draw in it and keep its address.
    m_context = std::make_unique<QOpenGLContext>();
    const std::array<MpvPlayer *, 2> players{front, rear};
    for (size_t i = 0; i < players.size(); ++i) {
        m_pictures[i].renderer = new MpvRenderer(m_context.get(), this, this);
        m_pictures[i].renderer->setPlayer(players[i]);
        connect(m_pictures[i].renderer, &MpvRenderer::frameWanted, this, [this, i] { frameArrived(i); });
        if (!players[i])
            continue;
        // mpv hands a frame nobody drew within 200 ms on as the current one without saying so; draw the
        // current frame again once the file is ready and whenever a jump lands while paused.
        const auto redraw = [this, i] {
            m_pictures[i].stale = true;
            update();
        };
        connect(players[i], &VideoPlayer::ready, this, redraw);
        connect(players[i], &VideoPlayer::tick, this, [redraw, player = players[i]] {
            if (!player->isPlaying())
                redraw();
        });
    }
    connect(this, &StageCanvas::frameSwapped, this, [this] { ++m_counts.swaps; });
    m_compose.setSingleShot(true);
    m_compose.setTimerType(Qt::PreciseTimer);
    connect(&m_compose, &QTimer::timeout, this, &StageCanvas::paint);
    // In case no frame comes after all (the file ended, or mpv stalls).
    m_lateUpdate.setSingleShot(true);
    m_lateUpdate.setInterval(FramePacer::lateUpdateMs);
    connect(&m_lateUpdate, &QTimer::timeout, this, &StageCanvas::paint);
    m_easing.setStartValue(0.0);
    m_easing.setEndValue(1.0);
    m_easing.setDuration(easingMs);
    // Close to a spring of response 0.5 s and damping 0.85: fast start, no overshoot to speak of.
    m_easing.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_easing, &QVariantAnimation::valueChanged, this, qOverload<>(&StageCanvas::update));
    connect(&m_easing, &QVariantAnimation::finished, this, qOverload<>(&StageCanvas::update));

    // The window exists (unmapped) from here on, so the context can be made current before it shows.
    create();
    m_context->setFormat(requestedFormat());
    if (!m_context->create() || !makeCurrent()) {
        qWarning("The video stage has no OpenGL context");
        m_context.reset();
        return;
    }
    initializeGL();
    doneCurrent();
    attachInTurns(0, false);
}

void StageCanvas::attachInTurns(size_t index, bool started)
{
    // Each player's start and then its render context come on a turn of the event loop of their own: made in
    // one go with the context and the shaders, they would hold the window's thread while the first recording
    // shows. A player holds its load until its renderer is attached.
    for (; index < m_pictures.size(); ++index, started = false) {
        MpvRenderer *renderer = m_pictures[index].renderer;
        if (!m_context || !renderer->player() || renderer->isAttached())
            continue;
        if (!started) {
            renderer->player()->handle();
            QTimer::singleShot(0, this, [this, index] { attachInTurns(index, true); });
            return;
        }
        renderer->attach();
        m_pictures[index].stale = true;
        QTimer::singleShot(0, this, [this, index] { attachInTurns(index + 1, false); });
        return;
    }
}

void StageCanvas::prepareDriver(QObject *receiver, std::function<void()> ready)
{
    enum class State { none, preparing, prepared };
    static State state = State::none;
    static QList<std::pair<QPointer<QObject>, std::function<void()>>> waiting;
    if (state == State::prepared) {
        ready();
        return;
    }
    waiting.append({receiver, std::move(ready)});
    if (state == State::preparing)
        return;
    state = State::preparing;
    const auto prepared = [] {
        state = State::prepared;
        for (auto &[receiver, ready] : std::exchange(waiting, {})) {
            if (receiver)
                ready();
        }
    };
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    // The application waits for the global pool when it ends, so no work here outlives it.
    QThreadPool::globalInstance()->start([x11, prepared] {
        // First the driver's libraries, on a connection of our own.
        if (x11)
            GLDriverPreload::load();
        // Qt's check makes a context of its own, which starts the driver on Qt's connection: here, so that the
        // window's thread never waits for it. Nothing else asks Qt's GL meanwhile: the canvas is made once
        // this is done.
        if (QOpenGLContext::supportsThreadedOpenGL()) {
            QOpenGLContext context;
            context.setFormat(QSurfaceFormat::defaultFormat());
            context.create();
        }
        QMetaObject::invokeMethod(qApp, prepared);
    });
}

bool StageCanvas::makeCurrent()
{
    return m_context && m_context->makeCurrent(this);
}

void StageCanvas::doneCurrent()
{
    if (m_context)
        m_context->doneCurrent();
}

bool StageCanvas::event(QEvent *event)
{
    if (event->type() == QEvent::UpdateRequest) {
        paint();
        return true;
    }
    return QWindow::event(event);
}

void StageCanvas::exposeEvent(QExposeEvent *)
{
    if (isExposed())
        paint();
    else
        m_mainInBuffer = false; // frames go to the pictures meanwhile; the buffer's may be old on return
}

void StageCanvas::update()
{
    // While the main camera plays, its next frame's paint shows the change, within a frame's time; a paint
    // of its own would have mpv draw the main picture once more.
    const MpvPlayer *player = m_pictures[drawnView().swapped ? 1 : 0].renderer->player();
    if (player && FramePacer::waitsForNextFrame(player->isPlaying(), isEasing())) {
        if (!m_lateUpdate.isActive())
            m_lateUpdate.start();
        return;
    }
    requestUpdate();
}

void StageCanvas::paint()
{
    if (!isExposed() || !m_shaders[0].program || !makeCurrent())
        return;
    m_lateUpdate.stop();
    paintGL();
    m_context->swapBuffers(this);
    m_mainInBuffer = false; // what the back buffer holds after a swap is undefined
    emit frameSwapped();
}

StageCanvas::~StageCanvas()
{
    // The render contexts go first, in the GL context they were made in.
    for (Picture &picture : m_pictures)
        delete std::exchange(picture.renderer, nullptr);
    releaseGL();
    m_context.reset();
}

void StageCanvas::setView(const StageView &view, bool animated)
{
    if (view == m_view)
        return;
    const bool transformMoves =
        view.zoom != m_view.zoom || view.pan != m_view.pan || view.rotation != m_view.rotation;
    if (animated && transformMoves) {
        m_from = drawnView();
        m_view = view;
        m_easing.stop();
        m_easing.start();
    } else {
        m_easing.stop();
        m_view = view;
    }
    update();
}

StageView StageCanvas::drawnView() const
{
    if (!isEasing())
        return m_view;
    const double t = m_easing.currentValue().toDouble();
    StageView shown = m_view;
    shown.zoom = lerp(m_from.zoom, m_view.zoom, t);
    shown.pan = QSizeF(lerp(m_from.pan.width(), m_view.pan.width(), t),
                       lerp(m_from.pan.height(), m_view.pan.height(), t));
    shown.rotation = lerp(m_from.rotation, m_view.rotation, t);
    return shown;
}

void StageCanvas::initializeGL()
{
    QOpenGLContext *gl = context();
    gl->functions()->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &m_maxTextureSize);
    m_maxTextureSize = std::clamp(m_maxTextureSize, 256, 16384);

    for (size_t shade = 0; shade < m_shaders.size(); ++shade) {
        Shader &shader = m_shaders[shade];
        shader.program = std::make_unique<QOpenGLShaderProgram>();
        shader.program->addShaderFromSourceCode(QOpenGLShader::Vertex, vertexShader);
        shader.program->addShaderFromSourceCode(QOpenGLShader::Fragment,
                                                "#define SHADE " + QByteArray::number(qulonglong(shade)) +
                                                    "\n" + fragmentShader);
        shader.program->bindAttributeLocation("position", 0);
        shader.program->bindAttributeLocation("texCoord", 1);
        if (!shader.program->link())
            qWarning("The video stage's shader did not link: %s", qPrintable(shader.program->log()));
        QOpenGLShaderProgram &program = *shader.program;
        shader.viewport = program.uniformLocation("viewport");
        shader.picture = program.uniformLocation("picture");
        shader.box = program.uniformLocation("box");
        shader.radius = program.uniformLocation("radius");
        shader.line = program.uniformLocation("line");
        shader.blur = program.uniformLocation("blur");
    }
    m_vertices = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
    m_vertices->create();
    m_vertices->setUsagePattern(QOpenGLBuffer::StreamDraw);
    m_vertexArray = std::make_unique<QOpenGLVertexArrayObject>();
    m_vertexArray->create(); // not every context has them; drawing works without
}

void StageCanvas::releaseGL()
{
    if (!m_shaders[0].program && !m_pictures[0].target && !m_pictures[1].target)
        return;
    const bool current = context() && QOpenGLContext::currentContext() == context();
    if (!current && context())
        makeCurrent();
    for (Picture &picture : m_pictures)
        picture.target.reset();
    for (ImageTexture *texture : {&m_labelTexture, &m_overlayTexture}) {
        if (texture->id)
            context()->functions()->glDeleteTextures(1, &texture->id);
        *texture = {};
    }
    m_vertexArray.reset();
    m_vertices.reset();
    for (Shader &shader : m_shaders)
        shader = {};
    if (!current && context())
        doneCurrent();
}

QSize StageCanvas::mainPictureSize(const StageView &shown) const
{
    const qreal ratio = devicePixelRatio();
    const QSizeF stage(width() * ratio, height() * ratio);
    const MpvRenderer *renderer = m_pictures[shown.swapped ? 1 : 0].renderer;
    QSizeF video;
    if (renderer && renderer->player()) {
        if (const auto facts = renderer->player()->facts())
            video = facts->displaySize();
    }
    // Mid-easing the larger end decides, so the picture is not drawn again at every step.
    const double zoom = isEasing() ? std::max(m_from.zoom, m_view.zoom) : m_view.zoom;
    const double scale = StageGeometry::renderScale(stage, zoom, video);
    QSizeF size = stage * scale;
    const double limit = m_maxTextureSize;
    if (size.width() > limit || size.height() > limit)
        size.scale(limit, limit, Qt::KeepAspectRatio);
    return QSize(std::max(1, int(std::lround(size.width()))), std::max(1, int(std::lround(size.height()))));
}

void StageCanvas::prepareTarget(Picture &picture, QSize pixels)
{
    if (picture.target && picture.target->size() == pixels)
        return;
    picture.target = std::make_unique<QOpenGLFramebufferObject>(
        pixels, QOpenGLFramebufferObject::NoAttachment, GL_TEXTURE_2D, GL_RGBA8);
    picture.target->bind();
    QOpenGLFunctions *gl = context()->functions();
    gl->glClearColor(0, 0, 0, 1);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    picture.stale = true;
}

void StageCanvas::clearPictures()
{
    for (Picture &picture : m_pictures)
        picture.blank = true;
    update();
}

void StageCanvas::frameArrived(size_t index)
{
    // A frame is drawn at once and reported as shown, so that mpv's video thread does not wait for the
    // window (which would make it drop the frames after). Unzoomed, the main camera's frame goes straight
    // into the window's back buffer; any other into its picture, to be composed by the next paint. The
    // pacer says when a frame waits instead.
    const StageView shown = drawnView();
    const StageLayout layout = StageGeometry::layout(size(), shown);
    const bool direct = index == (shown.swapped ? 1u : 0u) && drawsMainDirectly(shown, layout);
    if (direct && !makeCurrent())
        return;
    switch (m_pacer.frameArrived(index, direct, isExposed())) {
    case FramePacer::Arrival::holdUntilPaint:
        m_compose.stop();
        paint();
        return;
    case FramePacer::Arrival::showHeldFirst:
        paint();
        break;
    case FramePacer::Arrival::take:
        break;
    }
    if (direct)
        drawMainDirectly(true);
    else if (context() && m_shaders[0].program && makeCurrent())
        takeFrame(index, shown, layout);
    composeSoon(index, layout);
}

void StageCanvas::composeSoon(size_t index, const StageLayout &layout)
{
    const FramePacer::Compose next =
        m_pacer.afterFrame(index, layout.inset.has_value(), partner(1 - index), m_compose.isActive());
    if (next.paintNow) {
        m_compose.stop();
        paint();
    } else if (next.waitMs > 0) {
        m_compose.start(next.waitMs);
    }
}

std::optional<FramePacer::Partner> StageCanvas::partner(size_t index) const
{
    const MpvRenderer *renderer = m_pictures[index].renderer;
    if (!renderer || !renderer->player())
        return std::nullopt;
    const MpvPlayer *player = renderer->player();
    const auto facts = player->facts();
    return FramePacer::Partner{player->isPlaying(), facts ? facts->frameRate : 0.0};
}

QSize StageCanvas::windowPixels() const
{
    const qreal ratio = devicePixelRatio();
    return {int(std::lround(width() * ratio)), int(std::lround(height() * ratio))};
}

bool StageCanvas::drawsMainDirectly(const StageView &shown, const StageLayout &layout) const
{
    return isExposed() && layout.main.isIdentity() && !isEasing() && mainPictureSize(shown) == windowPixels();
}

void StageCanvas::drawMainDirectly(bool takeNew)
{
    // The picture's own target is not needed while mpv draws into the window.
    const size_t index = drawnView().swapped ? 1 : 0;
    Picture &picture = m_pictures[index];
    picture.target.reset();
    if (picture.blank && picture.renderer->player() && picture.renderer->player()->facts())
        picture.blank = false;
    const QSize pixels = windowPixels();
    const bool newFrame = takeNew && picture.renderer->takeNewFrame();
    if (picture.blank || !picture.renderer->player()) {
        QOpenGLFunctions *gl = context()->functions();
        gl->glBindFramebuffer(GL_FRAMEBUFFER, context()->defaultFramebufferObject());
        gl->glViewport(0, 0, pixels.width(), pixels.height());
        gl->glDisable(GL_SCISSOR_TEST);
        gl->glClearColor(0, 0, 0, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        if (newFrame)
            picture.renderer->skip();
    } else {
        picture.renderer->render(context()->defaultFramebufferObject(), pixels, true);
        if (newFrame)
            ++m_counts.renders[index];
    }
    if (newFrame)
        picture.renderer->reportSwap();
    m_pacer.drew(index); // the back buffer holds it until the next swap
    m_mainInBuffer = true;
    m_bufferPixels = pixels;
}

void StageCanvas::takeFrame(size_t index, const StageView &shown, const StageLayout &layout, bool takeNew)
{
    Picture &picture = m_pictures[index];
    const size_t mainIndex = shown.swapped ? 1 : 0;
    const bool shownNow = index == mainIndex || layout.inset.has_value();
    if (shownNow) {
        QSize pixels = mainPictureSize(shown);
        if (index != mainIndex) {
            const QSizeF inset = layout.inset->size() * devicePixelRatio();
            pixels = QSize(std::max(1, int(std::lround(inset.width()))),
                           std::max(1, int(std::lround(inset.height()))));
        }
        prepareTarget(picture, pixels);
    }
    const bool newFrame = takeNew && picture.renderer->takeNewFrame();
    switch (FramePacer::use(shownNow, picture.target != nullptr, newFrame, picture.stale)) {
    case FramePacer::Use::draw:
        picture.renderer->render(picture.target->handle(), picture.target->size(), false);
        picture.stale = false;
        if (index == mainIndex)
            m_mainInBuffer = false; // the picture holds a later frame than the back buffer
        ++m_counts.renders[index];
        if (newFrame && m_pacer.drew(index))
            ++m_counts.lost[index];
        picture.renderer->reportSwap();
        break;
    case FramePacer::Use::skip:
        picture.renderer->skip();
        ++m_counts.skips[index];
        picture.renderer->reportSwap();
        break;
    case FramePacer::Use::none:
        break;
    }
}

void StageCanvas::paintGL()
{
    ++m_counts.paints;
    m_compose.stop();
    const StageView shown = drawnView();
    const StageLayout layout = StageGeometry::layout(size(), shown);
    const size_t mainIndex = shown.swapped ? 1 : 0;
    const bool direct = drawsMainDirectly(shown, layout);

    // Bring each shown picture up to date (after a resize, say); the frames that came in between were drawn
    // as they came, and one drawn but not shown yet is shown now.
    for (size_t i = 0; i < m_pictures.size(); ++i) {
        Picture &picture = m_pictures[i];
        // mpv still hands out the last frame of a file that is gone; only the next file's, once ready,
        // counts.
        if (picture.blank && picture.renderer->player() && picture.renderer->player()->facts())
            picture.blank = false;
        if (i == mainIndex && direct) {
            // The back buffer holds the frame drawn for this paint, or nothing to rely on.
            if (!m_mainInBuffer || m_bufferPixels != windowPixels())
                drawMainDirectly(m_pacer.takesNewFrameAtPaint(i));
        } else {
            takeFrame(i, shown, layout, m_pacer.takesNewFrameAtPaint(i));
        }
        if (m_pacer.shown(i))
            QMetaObject::invokeMethod(
                this, [this, i] { frameArrived(i); }, Qt::QueuedConnection);
    }
    compose(context()->defaultFramebufferObject(), direct);
}

QImage StageCanvas::grabFramebuffer()
{
    if (!m_shaders[0].program || !makeCurrent())
        return {};
    const QSize pixels = windowPixels();
    const StageView shown = drawnView();
    const StageLayout layout = StageGeometry::layout(size(), shown);
    const bool direct = drawsMainDirectly(shown, layout);
    // Pictures not drawn yet at their present size are drawn now, from the frames mpv shows already.
    for (size_t i = 0; i < m_pictures.size(); ++i) {
        if (!(direct && i == (shown.swapped ? 1u : 0u)))
            takeFrame(i, shown, layout, false);
    }
    QOpenGLFramebufferObject target(pixels, QOpenGLFramebufferObject::NoAttachment, GL_TEXTURE_2D, GL_RGBA8);
    if (direct) {
        // The window's buffer is gone once shown: mpv draws the current frame again.
        const Picture &main = m_pictures[shown.swapped ? 1 : 0];
        target.bind();
        context()->functions()->glClearColor(0, 0, 0, 1);
        context()->functions()->glClear(GL_COLOR_BUFFER_BIT);
        if (!main.blank)
            main.renderer->render(target.handle(), pixels, true);
    }
    compose(target.handle(), direct);
    QImage image = target.toImage();
    image.setDevicePixelRatio(devicePixelRatio());
    return image;
}

void StageCanvas::setOverlay(const QImage &picture, QPoint position)
{
    if (picture.isNull() && m_overlay.isNull())
        return;
    m_overlay = picture;
    m_overlayPosition = position;
    m_overlayTexture.stale = true;
    update();
}

void StageCanvas::compose(unsigned framebuffer, bool mainDrawn)
{
    QOpenGLFunctions *gl = context()->functions();
    const QSize pixels = windowPixels();
    const StageView shown = drawnView();
    const StageLayout layout = StageGeometry::layout(size(), shown);
    const int mainIndex = shown.swapped ? 1 : 0;

    // mpv leaves its own state behind; set everything drawing relies on.
    gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl->glViewport(0, 0, pixels.width(), pixels.height());
    gl->glDisable(GL_SCISSOR_TEST);
    gl->glDisable(GL_DEPTH_TEST);
    gl->glDisable(GL_STENCIL_TEST);
    gl->glDisable(GL_CULL_FACE);
    gl->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gl->glDisable(GL_BLEND);
    const Picture &main = m_pictures[size_t(mainIndex)];
    // Unzoomed, unturned and unmirrored, the main picture covers the stage pixel for pixel (bars included):
    // no clearing, no filtering.
    const bool exact =
        layout.main.isIdentity() && main.target && !main.blank && main.target->size() == pixels;
    if (!mainDrawn && (!exact || !shadersLinked())) {
        gl->glClearColor(0, 0, 0, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
    }
    if (!shadersLinked())
        return;

    const qreal ratio = devicePixelRatio();
    for (Shader &shader : m_shaders) {
        // These follow the size alone: set once for it, not at every frame.
        if (shader.setFor == std::pair(pixels, ratio))
            continue;
        shader.setFor = {pixels, ratio};
        QOpenGLShaderProgram &program = *shader.program;
        program.bind();
        program.setUniformValue(shader.viewport, QVector2D(float(pixels.width()), float(pixels.height())));
        program.setUniformValue(shader.picture, 0);
        program.setUniformValue(shader.radius, float(StageGeometry::insetCornerRadius * ratio));
        program.setUniformValue(shader.line, float(ratio));
        program.setUniformValue(shader.blur, float(StageGeometry::insetCornerRadius * ratio));
    }
    gl->glActiveTexture(GL_TEXTURE0);
    const QRectF stage(QPointF(0, 0), QSizeF(size()));
    if (!mainDrawn && main.target && !main.blank) {
        drawQuad({layout.main.map(stage.topLeft()), layout.main.map(stage.topRight()),
                  layout.main.map(stage.bottomLeft()), layout.main.map(stage.bottomRight())},
                 main.target->texture(), Shade::picture, {}, exact);
    }
    gl->glEnable(GL_BLEND);
    // Premultiplied colour; the window's alpha stays opaque.
    gl->glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
    if (layout.inset) {
        const QRectF inset = *layout.inset;
        const Picture &other = m_pictures[size_t(1 - mainIndex)];
        const bool insetDrawn = other.target && !other.blank;
        drawInset(inset, insetDrawn ? other.target->texture() : 0);
        drawLabel(inset, layout.insetLabel);
    }
    if (!m_overlay.isNull())
        drawImage(m_overlayTexture, m_overlay, m_overlayPosition);
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    gl->glUseProgram(0);
    gl->glDisable(GL_BLEND);
}

bool StageCanvas::shadersLinked() const
{
    return std::all_of(m_shaders.begin(), m_shaders.end(),
                       [](const Shader &shader) { return shader.program && shader.program->isLinked(); });
}

void StageCanvas::drawQuad(const std::array<QPointF, 4> &corners, unsigned texture, Shade shade,
                           const QRectF &box, bool exact)
{
    const qreal ratio = devicePixelRatio();
    // Triangle strip: top left, top right, bottom left, bottom right.
    const std::array<float, 2> texCoords[4] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    float data[16];
    for (int i = 0; i < 4; ++i) {
        data[i * 4 + 0] = float(corners[size_t(i)].x() * ratio);
        data[i * 4 + 1] = float(corners[size_t(i)].y() * ratio);
        data[i * 4 + 2] = texCoords[i][0];
        data[i * 4 + 3] = texCoords[i][1];
    }
    drawStrip(data, 4, texture, shade, box, exact);
}

void StageCanvas::drawInset(const QRectF &inset, unsigned texture)
{
    // The shadow under the inset shows only round its edge, and only the edge (rounded, with its border)
    // needs the inset's own shader and blending: inside a corner's radius the box is whole, and its
    // picture is copied as it is.
    const double spread = 2 * StageGeometry::insetCornerRadius;
    const QRectF halo = inset.adjusted(-spread, -spread, spread, spread);
    const double in = StageGeometry::insetCornerRadius;
    const QRectF inner = inset.adjusted(in, in, -in, -in);
    if (!texture || inner.isEmpty()) {
        drawRing(halo, {}, 0, Shade::shadow, inset);
        if (texture)
            drawRing(inset, {}, texture, Shade::inset, inset);
        return;
    }
    drawRing(halo, inner, 0, Shade::shadow, inset);
    drawRing(inset, inner, texture, Shade::inset, inset);
    QOpenGLFunctions *gl = context()->functions();
    gl->glDisable(GL_BLEND);
    drawRing(inner, {}, texture, Shade::picture, inset);
    gl->glEnable(GL_BLEND);
}

void StageCanvas::drawRing(const QRectF &outer, const QRectF &inner, unsigned texture, Shade shade,
                           const QRectF &box)
{
    // A triangle strip round the ring, or over the whole of an outer box without an inner one; texture
    // coordinates span `box`.
    const qreal ratio = devicePixelRatio();
    float data[10 * 4];
    int count = 0;
    const auto add = [&](QPointF p) {
        data[count * 4 + 0] = float(p.x() * ratio);
        data[count * 4 + 1] = float(p.y() * ratio);
        data[count * 4 + 2] = float((p.x() - box.left()) / box.width());
        data[count * 4 + 3] = float((p.y() - box.top()) / box.height());
        ++count;
    };
    if (inner.isNull()) {
        for (const QPointF p : {outer.topLeft(), outer.topRight(), outer.bottomLeft(), outer.bottomRight()})
            add(p);
    } else {
        for (const QPointF p :
             {outer.topLeft(), inner.topLeft(), outer.topRight(), inner.topRight(), outer.bottomRight(),
              inner.bottomRight(), outer.bottomLeft(), inner.bottomLeft(), outer.topLeft(), inner.topLeft()})
            add(p);
    }
    drawStrip(data, count, texture, shade, box, false);
}

void StageCanvas::drawStrip(const float *vertices, int count, unsigned texture, Shade shade,
                            const QRectF &box, bool exact)
{
    const qreal ratio = devicePixelRatio();
    const Shader &shader = m_shaders[size_t(shade)];
    QOpenGLShaderProgram &program = *shader.program;
    program.bind();
    QOpenGLFunctions *gl = context()->functions();
    QOpenGLVertexArrayObject::Binder boundArray(m_vertexArray.get());
    m_vertices->bind();
    m_vertices->allocate(vertices, count * 4 * int(sizeof(float)));
    program.enableAttributeArray(0);
    program.enableAttributeArray(1);
    program.setAttributeBuffer(0, GL_FLOAT, 0, 2, 4 * sizeof(float));
    program.setAttributeBuffer(1, GL_FLOAT, 2 * sizeof(float), 2, 4 * sizeof(float));
    const QPointF centre = box.center() * ratio;
    program.setUniformValue(shader.box,
                            QVector4D(float(centre.x()), float(centre.y()), float(box.width() * ratio / 2),
                                      float(box.height() * ratio / 2)));
    gl->glBindTexture(GL_TEXTURE_2D, texture);
    if (texture) {
        const GLint filter = exact ? GL_NEAREST : GL_LINEAR;
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    }
    gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, count);
    program.disableAttributeArray(0);
    program.disableAttributeArray(1);
    m_vertices->release();
}

void StageCanvas::drawLabel(const QRectF &inset, const QString &text)
{
    const qreal ratio = devicePixelRatio();
    if (text != m_labelText || m_label.isNull() || m_label.devicePixelRatio() != ratio) {
        m_labelText = text;
        QFont font = QGuiApplication::font();
        font.setPixelSize(10);
        font.setBold(true);
        const QFontMetricsF metrics(font);
        const QSizeF size(metrics.horizontalAdvance(text) + 12, metrics.height() + 4);
        m_label = QImage((size * ratio).toSize(), QImage::Format_RGBA8888_Premultiplied);
        m_label.setDevicePixelRatio(ratio);
        m_label.fill(Qt::transparent);
        QPainter painter(&m_label);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setFont(font);
        const QRectF capsule(QPointF(0, 0), size);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 140));
        painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
        painter.setPen(Qt::white);
        painter.drawText(capsule, Qt::AlignCenter, text);
        m_labelTexture.stale = true;
    }
    const QSizeF size = QSizeF(m_label.size()) / ratio;
    const QPointF corner(inset.left() + StageGeometry::labelMargin,
                         inset.bottom() - StageGeometry::labelMargin - size.height());
    drawImage(m_labelTexture, m_label, corner);
}

void StageCanvas::drawImage(ImageTexture &texture, const QImage &image, QPointF position)
{
    QOpenGLFunctions *gl = context()->functions();
    if (!texture.id)
        gl->glGenTextures(1, &texture.id);
    gl->glBindTexture(GL_TEXTURE_2D, texture.id);
    if (texture.stale) {
        const QImage pixels = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, pixels.width(), pixels.height(), 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, pixels.constBits());
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        texture.stale = false;
    }
    // Whole device pixels, drawn one to one.
    const qreal ratio = devicePixelRatio();
    const QPointF corner(std::round(position.x() * ratio) / ratio, std::round(position.y() * ratio) / ratio);
    const QRectF box(corner, QSizeF(image.size()) / ratio);
    drawQuad({box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()}, texture.id, Shade::image,
             box, true);
}
