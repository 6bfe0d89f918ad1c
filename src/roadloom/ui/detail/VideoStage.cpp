#include "roadloom/ui/detail/VideoStage.h"

#include "platform/gui/MpvPlayer.h"
#include "platform/gui/StageCanvas.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/ui/detail/VideoHUD.h"
#include "roadloom/ui/widgets/BusyIndicator.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyleHints>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const QString errorTitle = QStringLiteral("Can't Play This Recording");
const QString openSettings = QStringLiteral("Open Settings\u2026");
const QString convertingText = QStringLiteral("Converting AVI\u2026");
const QString swapHelp = QStringLiteral("Click to swap cameras");

double clampZoom(double zoom)
{
    return std::clamp(zoom, PlayerController::minimumZoom, PlayerController::maximumZoom);
}

} // namespace

VideoStage::VideoStage(AppModel &model, QWidget *parent, DriverPreparation prepareDriver)
    : QWidget(parent), m_model(model),
      m_prepareDriver(prepareDriver ? std::move(prepareDriver) : &StageCanvas::prepareDriver)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    PlayerController &player = model.player();

    m_hud = new VideoHUD(model, this);
    connect(m_hud, &VideoHUD::pictureChanged, this, &VideoStage::syncReadout);

    m_loading = new QWidget(this);
    m_loading->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *loadingColumn = new QVBoxLayout(m_loading);
    loadingColumn->setSpacing(10);
    loadingColumn->addStretch(1);
    m_spinner = new BusyIndicator(BusyIndicator::Size::large, m_loading);
    m_spinner->setColor(Qt::white);
    loadingColumn->addWidget(m_spinner, 0, Qt::AlignHCenter);
    m_converting = new QLabel(convertingText, m_loading);
    QPalette convertingPalette = m_converting->palette();
    convertingPalette.setColor(QPalette::WindowText, QColor(255, 255, 255, 204));
    m_converting->setPalette(convertingPalette);
    loadingColumn->addWidget(m_converting, 0, Qt::AlignHCenter);
    loadingColumn->addStretch(1);

    m_error =
        new ContentUnavailableWidget(QStringLiteral("exclamationmark.triangle"), errorTitle, QString(), this);
    QPalette errorPalette = m_error->palette();
    errorPalette.setColor(QPalette::WindowText, Qt::white);
    errorPalette.setColor(QPalette::Text, Qt::white);
    m_error->setPalette(errorPalette);
    connect(m_error->addButton(openSettings), &QPushButton::clicked, this, &VideoStage::settingsRequested);

    m_singleClick.setSingleShot(true);
    connect(&m_singleClick, &QTimer::timeout, this, [this] { m_model.player().togglePlay(); });

    for (auto signal : {&PlayerController::zoomChanged, &PlayerController::rotationChanged,
                        &PlayerController::aspectRatioChanged})
        connect(&player, signal, this, &VideoStage::syncCanvas);
    for (auto signal : {&PlayerController::swappedChanged, &PlayerController::showPiPChanged,
                        &PlayerController::hasRearChanged, &PlayerController::mirroredChanged})
        connect(&player, signal, this, &VideoStage::syncCanvas);
    connect(&player, &PlayerController::panChanged, this, &VideoStage::syncCanvas);
    connect(&player, &PlayerController::isLoadingChanged, this, &VideoStage::syncOverlays);
    connect(&player, &PlayerController::loadErrorChanged, this, &VideoStage::syncOverlays);
    connect(&player, &PlayerController::clipChanged, this, &VideoStage::syncOverlays);
    syncCanvas();
    syncOverlays();
}

StageView VideoStage::view() const
{
    const PlayerController &player = m_model.player();
    StageView view;
    view.zoom = player.zoom();
    view.pan = player.pan();
    view.rotation = player.rotation();
    view.mirrored = player.mirrored();
    // With one camera the main picture is the front one whatever the setting says.
    view.swapped = player.swapped() && player.hasRear();
    view.showInset = player.hasRear() && player.showPiP();
    view.aspectRatio = player.aspectRatio();
    return view;
}

std::optional<QRectF> VideoStage::insetRect() const
{
    return StageGeometry::layout(QSizeF(size()), view()).inset;
}

void VideoStage::syncCanvas()
{
    // A change may come as several signals (a zoom to 1 clears the pan): each one eases when asked.
    if (m_canvas)
        m_canvas->setView(view(), m_animateNext);
}

void VideoStage::syncOverlays()
{
    const PlayerController &player = m_model.player();
    // Loading wins over an error.
    const bool loading = player.isLoading();
    const bool failed = !loading && player.loadError().has_value();
    const std::optional<DashClip> &clip = player.clip();
    m_converting->setVisible(clip &&
                             clip->primaryURL().endsWith(QStringLiteral(".avi"), Qt::CaseInsensitive));
    m_loading->setVisible(loading);
    if (failed) {
        m_error->setDescription(*player.loadError());
        // The players keep the last frame of what played before; the page stands on black instead.
        if (m_canvas)
            m_canvas->clearPictures();
    }
    m_error->setVisible(failed);
    if (loading || failed) {
        m_loading->raise();
        m_error->raise();
    }
    // Widgets cannot draw over the canvas's window; the overlays stand on black instead.
    if (m_canvasHost)
        m_canvasHost->setVisible(!loading && !failed && !m_covered);
}

void VideoStage::setCovered(bool covered)
{
    m_covered = covered;
    syncOverlays();
}

void VideoStage::syncReadout()
{
    // The readout is a widget for layout and tests; on the screen the canvas draws its picture.
    if (!m_canvas)
        return;
    if (m_hud->isHidden() || m_hud->size().isEmpty()) {
        m_canvas->setOverlay({}, {});
        return;
    }
    m_canvas->setOverlay(m_hud->picture(devicePixelRatioF()), m_hud->pos());
}

void VideoStage::placeChildren()
{
    const QRect all = rect();
    if (m_canvasHost)
        m_canvasHost->setGeometry(all);
    m_loading->setGeometry(all);
    m_error->setGeometry(all);
    m_hud->move(14, height() - 14 - m_hud->height());
    syncReadout();
}

void VideoStage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeChildren();
}

void VideoStage::paintEvent(QPaintEvent *)
{
    // Black where no canvas draws (and under it while it starts).
    QPainter(this).fillRect(rect(), Qt::black);
}

void VideoStage::prepareCanvas()
{
    // Made when the stage first shows, once the window has painted. The GL driver is set up aside first: the
    // window stays responsive meanwhile, and the players hold their loads until the canvas exists. Shown
    // again meanwhile, the stage still waits for the driver.
    PlayerController &player = m_model.player();
    if (m_canvas || m_preparingCanvas ||
        !(qobject_cast<MpvPlayer *>(&player.front()) || qobject_cast<MpvPlayer *>(&player.rear())))
        return;
    m_preparingCanvas = true;
    m_prepareDriver(this, [this] { makeCanvas(); });
}

void VideoStage::makeCanvas()
{
    PlayerController &player = m_model.player();
    auto *front = qobject_cast<MpvPlayer *>(&player.front());
    auto *rear = qobject_cast<MpvPlayer *>(&player.rear());
    if (m_canvas || !(front || rear))
        return;
    m_canvas = new StageCanvas(front, rear);
    m_canvasHost = QWidget::createWindowContainer(m_canvas, this);
    m_canvasHost->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_canvasHost->setFocusPolicy(Qt::NoFocus);
    m_canvasHost->lower();
    m_canvasHost->setGeometry(rect());
    m_hud->setDrawnElsewhere(true);
    syncCanvas();
    syncReadout();
    syncOverlays(); // shows the canvas unless an overlay stands there
}

bool VideoStage::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show:
        // After the paint the showing asked for: started beside it, the GL driver's start would take the
        // processors that the paint's own helper threads need, and the window's thread would wait with them.
        QTimer::singleShot(0, this, &VideoStage::prepareCanvas);
        break;
    case QEvent::NativeGesture: {
        auto *gesture = static_cast<QNativeGestureEvent *>(event);
        switch (gesture->gestureType()) {
        case Qt::BeginNativeGesture:
            m_pinchStart.reset();
            m_magnification = 1;
            return true;
        case Qt::ZoomNativeGesture: {
            if (!m_pinchStart) {
                m_pinchStart = m_model.player().zoom();
                m_magnification = 1;
            }
            m_magnification *= 1 + gesture->value();
            m_model.player().setZoom(clampZoom(*m_pinchStart * m_magnification));
            return true;
        }
        case Qt::EndNativeGesture:
            m_pinchStart.reset();
            m_magnification = 1;
            return true;
        default:
            break;
        }
        break;
    }
    case QEvent::ToolTip: {
        auto *help = static_cast<QHelpEvent *>(event);
        const std::optional<QRectF> inset = insetRect();
        if (inset && inset->contains(help->pos()))
            QToolTip::showText(help->globalPos(), swapHelp, this, inset->toRect());
        else
            QToolTip::hideText();
        return true;
    }
    default:
        break;
    }
    return QWidget::event(event);
}

void VideoStage::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_press = event->position().toPoint();
    const std::optional<QRectF> inset = insetRect();
    m_pressOnInset = inset && inset->contains(event->position());
    m_dragging = false;
    m_dragStart.reset();
}

void VideoStage::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_press || !(event->buttons() & Qt::LeftButton))
        return;
    const QPointF translation = event->position() - QPointF(*m_press);
    if (!m_dragging) {
        if (std::hypot(translation.x(), translation.y()) < dragThreshold)
            return;
        m_dragging = true;
    }
    PlayerController &player = m_model.player();
    if (player.zoom() <= 1)
        return; // an unzoomed picture stays put
    if (!m_dragStart)
        m_dragStart = player.pan();
    player.setPan(QSizeF(m_dragStart->width() + translation.x(), m_dragStart->height() + translation.y()));
}

void VideoStage::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_press) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const bool dragged = m_dragging;
    const bool onInset = m_pressOnInset;
    m_press.reset();
    m_dragging = false;
    m_dragStart.reset();
    if (std::exchange(m_afterDoubleClick, false) || dragged)
        return; // a drag, or the end of a double click, is never a click
    if (onInset) {
        swapCameras();
        return;
    }
    // Held back so that the first click of a double click never toggles playback.
    m_singleClick.start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
}

void VideoStage::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    const std::optional<QRectF> inset = insetRect();
    if (inset && inset->contains(event->position())) {
        // Each click on the inset swaps: this one like a press.
        mousePressEvent(event);
        return;
    }
    m_singleClick.stop();
    m_press = event->position().toPoint();
    m_pressOnInset = false;
    m_dragging = false;
    m_afterDoubleClick = true;
    toggleZoom();
}

void VideoStage::wheelEvent(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier) || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    const double notches = event->angleDelta().y() / 120.0;
    zoomBy(std::pow(wheelZoomStep, notches), m_model.player().zoom());
    event->accept();
}

void VideoStage::zoomBy(double factor, double from)
{
    m_model.player().setZoom(clampZoom(from * factor));
}

void VideoStage::toggleZoom()
{
    PlayerController &player = m_model.player();
    m_animateNext = true;
    player.setZoom(player.zoom() > 1 ? 1.0 : 2.0);
    m_animateNext = false;
}

void VideoStage::swapCameras()
{
    PlayerController &player = m_model.player();
    m_animateNext = true;
    player.setSwapped(!player.swapped());
    m_animateNext = false;
}
