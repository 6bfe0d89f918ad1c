#pragma once

#include "platform/gui/FramePacer.h"
#include "platform/gui/StageGeometry.h"

#include <QImage>
#include <QOpenGLContext>
#include <QTimer>
#include <QVariantAnimation>
#include <QWindow>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class MpvPlayer;
class MpvRenderer;
class QOpenGLBuffer;
class QOpenGLFramebufferObject;
class QOpenGLShaderProgram;
class QOpenGLVertexArrayObject;

// Draws the two players of a recording in a window of its own: the main picture through the stage's zoom,
// pan, rotation and mirroring, the other camera in a rounded inset with its shadow, border and label, and
// an overlay picture (the stage's readout) on top. A native window puts only itself on the screen for a
// frame, where a GL widget would have the whole main window composed through GL each time. Both players'
// render contexts are made on the event loop's first turns after the canvas, and kept for its life: mpv
// ends a file whose render context goes away and holds a load until there is one. Input goes through it to
// the window below; embed it in a widget with QWidget::createWindowContainer.
class StageCanvas : public QWindow {
    Q_OBJECT
public:
    // What the canvas did, for tests and benchmarks.
    struct Counts {
        int paints = 0;
        std::array<int, 2> renders{}; // frames drawn into each player's picture
        std::array<int, 2> skips{};   // frames taken from a hidden player without drawing
        std::array<int, 2> lost{};    // frames drawn but replaced by the next before a paint showed them
        int swaps = 0;                // times the window showed the canvas's picture
    };

    // Either player may be null (nothing is drawn for it). The players must outlive the canvas or say
    // `closing` first.
    explicit StageCanvas(MpvPlayer *front, MpvPlayer *rear, QWindow *parent = nullptr);
    ~StageCanvas() override;

    // What to show. Animated: the drawn transform eases to the new one over about half a second.
    void setView(const StageView &view, bool animated = false);
    const StageView &view() const { return m_view; }
    // The view as drawn now, partway through an easing.
    StageView drawnView() const;
    bool isEasing() const { return m_easing.state() == QAbstractAnimation::Running; }

    // Black until each player draws its next frame, so that a load that failed shows nothing of the file
    // played before it.
    void clearPictures();

    // Drawn over the pictures at `position` (in the canvas's coordinates); a null picture draws nothing.
    void setOverlay(const QImage &picture, QPoint position);
    const QImage &overlay() const { return m_overlay; }

    // What the canvas shows now, drawn again off the screen (the window's own buffer is gone once shown).
    QImage grabFramebuffer();

    const Counts &counts() const { return m_counts; }

    // Paints again soon, once for any number of calls.
    void update();

    static constexpr int easingMs = 500;

    // Sets the GL driver up on a thread of the pool (the first GL context of a process loads and starts
    // the driver, which can take a tenth of a second), then calls `ready` on `receiver`'s thread: at once
    // when it is done already. Where the platform makes GL contexts on the GUI thread only, the driver's
    // libraries are still loaded aside. Until `ready`, the GUI thread must make no GL window or context.
    static void prepareDriver(QObject *receiver, std::function<void()> ready);

    // The canvas's GL context, current for drawing into its pictures; null where there is no GL.
    QOpenGLContext *context() const { return m_context.get(); }
    bool makeCurrent();
    void doneCurrent();

signals:
    void frameSwapped();

protected:
    bool event(QEvent *event) override;
    void exposeEvent(QExposeEvent *event) override;

private:
    struct Picture {
        MpvRenderer *renderer = nullptr;
        std::unique_ptr<QOpenGLFramebufferObject> target;
        bool stale = true;  // the target holds no frame yet
        bool blank = false; // cleared: nothing is drawn until the player's next frame
    };

    void initializeGL();
    // Starts the players from `index` on and attaches their renderers, one step a turn.
    void attachInTurns(size_t index, bool started);
    void paintGL();
    void paint();
    void releaseGL();
    void frameArrived(size_t index);
    void composeSoon(size_t index, const StageLayout &layout);
    QSize windowPixels() const;
    bool drawsMainDirectly(const StageView &shown, const StageLayout &layout) const;
    void drawMainDirectly(bool takeNew);
    std::optional<FramePacer::Partner> partner(size_t index) const;
    void takeFrame(size_t index, const StageView &shown, const StageLayout &layout, bool takeNew = true);
    QSize mainPictureSize(const StageView &shown) const;
    void prepareTarget(Picture &picture, QSize pixels);
    enum class Shade { picture, inset, shadow, image }; // the order of the shader's SHADE numbers
    void drawQuad(const std::array<QPointF, 4> &corners, unsigned texture, Shade shade, const QRectF &box,
                  bool exact = false);
    // The inset with its shadow; without a texture, the shadow alone.
    void drawInset(const QRectF &inset, unsigned texture);
    void drawRing(const QRectF &outer, const QRectF &inner, unsigned texture, Shade shade, const QRectF &box);
    // Draws a triangle strip of (x, y, s, t) vertices in device pixels.
    void drawStrip(const float *vertices, int count, unsigned texture, Shade shade, const QRectF &box,
                   bool exact);
    bool shadersLinked() const;
    struct ImageTexture {
        unsigned id = 0;
        bool stale = true;
    };
    void drawLabel(const QRectF &inset, const QString &text);
    void drawImage(ImageTexture &texture, const QImage &image, QPointF position);
    // Draws the stage into a framebuffer; with mainDrawn, mpv has drawn the main picture there already.
    void compose(unsigned framebuffer, bool mainDrawn);

    StageView m_view;
    StageView m_from; // where the current easing began
    QVariantAnimation m_easing;
    std::array<Picture, 2> m_pictures; // front, rear
    Counts m_counts;
    FramePacer m_pacer;
    QTimer m_compose;    // a frame waiting for the other camera's, to be shown in one paint
    QTimer m_lateUpdate; // a change waiting for the next frame's paint
    QImage m_overlay;
    QPoint m_overlayPosition;
    ImageTexture m_overlayTexture;
    QString m_labelText;
    QImage m_label;
    ImageTexture m_labelTexture;
    bool m_mainInBuffer = false; // mpv drew the main picture into the back buffer since the last swap
    QSize m_bufferPixels;        // at this size

    std::unique_ptr<QOpenGLContext> m_context;
    struct Shader {
        std::unique_ptr<QOpenGLShaderProgram> program;
        // Looked up once: by name, each costs a search through the program's table.
        int viewport = -1, picture = -1, box = -1, radius = -1, line = -1, blur = -1;
        std::pair<QSize, qreal> setFor; // the target size and pixel ratio the uniforms hold
    };
    std::array<Shader, 4> m_shaders; // by Shade
    std::unique_ptr<QOpenGLBuffer> m_vertices;
    std::unique_ptr<QOpenGLVertexArrayObject> m_vertexArray;
    int m_maxTextureSize = 4096;
};
