#pragma once

#include "platform/gui/StageGeometry.h"

#include <QOpenGLWidget>
#include <QTimer>
#include <QVariantAnimation>

#include <array>
#include <memory>

class MpvPlayer;
class MpvRenderer;
class QOpenGLBuffer;
class QOpenGLFramebufferObject;
class QOpenGLShaderProgram;
class QOpenGLVertexArrayObject;
class QPainter;

// Draws the two players of a recording in one GL widget: the main picture through the stage's zoom, pan,
// rotation and mirroring, and the other camera in a rounded inset with its shadow, border and label.
// Both players' render contexts are made in the first initializeGL and kept for the run, since mpv ends a
// file whose render context goes away; so the canvas must never move to another window. Mouse events go
// through it to the widget below.
class StageCanvas : public QOpenGLWidget {
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
    explicit StageCanvas(MpvPlayer *front, MpvPlayer *rear, QWidget *parent = nullptr);
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

    const Counts &counts() const { return m_counts; }

    static constexpr int easingMs = 500;

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    struct Picture {
        MpvRenderer *renderer = nullptr;
        std::unique_ptr<QOpenGLFramebufferObject> target;
        bool stale = true;    // the target holds no frame yet
        bool unshown = false; // the target holds a new frame no paint has shown yet
        bool waiting = false; // and mpv holds the next one until that paint
        bool blank = false;   // cleared: nothing is drawn until the player's next frame
    };

    void releaseGL();
    void frameArrived(size_t index);
    int partnerWaitMs(size_t index, bool bothShown) const;
    void takeFrame(size_t index, const StageView &shown, const StageLayout &layout, bool takeNew = true);
    QSize mainPictureSize(const StageView &shown) const;
    void prepareTarget(Picture &picture, QSize pixels);
    void drawQuad(const std::array<QPointF, 4> &corners, unsigned texture, float mode, const QRectF &box,
                  bool exact = false);
    void drawLabel(QPainter &painter, const QRectF &inset, const QString &text);

    StageView m_view;
    StageView m_from; // where the current easing began
    QVariantAnimation m_easing;
    std::array<Picture, 2> m_pictures; // front, rear
    Counts m_counts;
    QTimer m_compose; // a frame waiting for the other camera's, to be shown in one paint

    std::unique_ptr<QOpenGLShaderProgram> m_program;
    std::unique_ptr<QOpenGLBuffer> m_vertices;
    std::unique_ptr<QOpenGLVertexArrayObject> m_vertexArray;
    int m_maxTextureSize = 4096;
    QMetaObject::Connection m_contextGone;
};
