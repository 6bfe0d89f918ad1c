#include "roadloom/ui/shell/MainWindow.h"

#include "platform/Defaults.h"
#include "platform/StartupGate.h"
#include "platform/gui/FirstFrame.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/MainWindowReactions.h"
#include "roadloom/ui/deck/TelemetryDeck.h"
#include "roadloom/ui/detail/DetailView.h"
#include "roadloom/ui/detail/TransportBar.h"
#include "roadloom/ui/detail/VideoStage.h"
#include "roadloom/ui/export/ExportClipSheet.h"
#include "roadloom/ui/inspector/ClipInspector.h"
#include "roadloom/ui/library/ClipListView.h"
#include "roadloom/ui/library/SidebarView.h"
#include "roadloom/ui/library/ToastView.h"
#include "roadloom/ui/shell/DropOverlay.h"
#include "roadloom/ui/shell/WindowDropTarget.h"
#include "roadloom/ui/widgets/FirstGeometry.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QListView>
#include <QScreen>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWindow>

#include <algorithm>

namespace {

const QString geometryKey = QStringLiteral("mainWindowGeometry");

QWidget *column(const QString &name, const MainWindow::ColumnWidths &widths)
{
    auto *widget = new QWidget;
    widget->setObjectName(name);
    widget->setMinimumWidth(widths.minimum);
    widget->setMaximumWidth(widths.maximum);
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return widget;
}

} // namespace

MainWindow::MainWindow(AppModel &model, QWidget *parent) : QMainWindow(parent), m_model(model)
{
    setWindowTitle(QStringLiteral("Roadloom"));
    setMinimumSize(minimumContentSize);
    m_firstGeometry = new FirstGeometry(*this, defaultSize);
    ExportClipSheet::follow(m_model, this);

    m_columns = new QSplitter(Qt::Horizontal, this);
    m_columns->setObjectName(QStringLiteral("columns"));
    m_columns->setChildrenCollapsible(true);
    m_sidebar = column(QStringLiteral("sidebarColumn"), sidebarWidths);
    m_clipList = column(QStringLiteral("clipListColumn"), clipListWidths);

    m_detailSplit = new QSplitter(Qt::Horizontal);
    m_detailSplit->setObjectName(QStringLiteral("detailSplit"));
    m_detail = new QWidget;
    m_detail->setObjectName(QStringLiteral("detailColumn"));
    auto *detailLayout = new QVBoxLayout(m_detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(0);
    m_inspector = column(QStringLiteral("inspectorColumn"), inspectorWidths);
    m_detailSplit->addWidget(m_detail);
    m_detailSplit->addWidget(m_inspector);
    m_detailSplit->setCollapsible(0, false);
    m_detailSplit->setStretchFactor(0, 1);
    m_detailSplit->setStretchFactor(1, 0);

    m_columns->addWidget(m_sidebar);
    m_columns->addWidget(m_clipList);
    m_columns->addWidget(m_detailSplit);
    m_columns->setCollapsible(2, false);
    m_detail->setMinimumWidth(detailLeastWidth());
    m_columns->setStretchFactor(0, 0);
    m_columns->setStretchFactor(1, 0);
    m_columns->setStretchFactor(2, 1);
    m_columns->setSizes({sidebarWidths.ideal, clipListWidths.ideal, defaultSize.width()});
    m_lastSizes = {sidebarWidths.ideal, clipListWidths.ideal};
    setCentralWidget(m_columns);

    buildColumns();
    buildStage();

    m_inspector->setVisible(model.showInspector());
    m_detailSplit->setSizes({defaultSize.width(), inspectorWidths.ideal});
    connect(&model, &AppModel::showInspectorChanged, this, &MainWindow::followInspector);
    connect(m_detailSplit, &QSplitter::splitterMoved, this, &MainWindow::inspectorHandleMoved);
    connect(m_columns, &QSplitter::splitterMoved, this, &MainWindow::columnHandleMoved);

    m_theaterAnimation = new QVariantAnimation(this);
    m_theaterAnimation->setDuration(theaterDuration);
    m_theaterAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(&model, &AppModel::theaterModeChanged, this, &MainWindow::followTheaterMode);

    m_overlay = new DropOverlay(this);
    m_dropTarget = new WindowDropTarget(this, m_overlay, this);
    connect(m_dropTarget, &WindowDropTarget::pathsDropped, this,
            [this](const QStringList &paths) { m_model.library().open(paths); });
    connect(m_dropTarget, &WindowDropTarget::hoveringChanged, this, [this](bool hovering) {
        if (m_detailView)
            m_detailView->stage()->setCovered(hovering);
    });

    m_toast = new ToastView(model, this);
    // Background work held back for the window (the catalog's read, on every core) starts once the first
    // frame is on the screen: the window's own paint comes before its children's and before the flush.
    FirstFrame::watch(this, [] { StartupGate::open(); });
}

void MainWindow::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    // The detail area brings the video stage's OpenGL drawing, which takes long on some displays: once the
    // window has shown itself. A load that comes earlier waits in the players for the stage's drawing.
    if (!m_reactions && !m_setupPending) {
        m_setupPending = true;
        QTimer::singleShot(0, this, &MainWindow::finishSetup);
    }
}

void MainWindow::finishSetup()
{
    if (m_reactions)
        return;
    buildDetailView();
    m_reactions = new MainWindowReactions(m_model, this);
    connect(m_reactions, &MainWindowReactions::deviceSettingsRequested, this,
            &MainWindow::deviceSettingsRequested);
}

MainWindow::~MainWindow()
{
    // Gone before its first frame (a quit at once): nothing is held back for it any longer, and the exit
    // does not wait out the gate's limit for the held work.
    StartupGate::open();
}

void MainWindow::buildColumns()
{
    m_sidebar->layout()->addWidget(new SidebarView(m_model, m_sidebar));
    m_clipList->layout()->addWidget(new ClipListView(m_model, m_clipList));

    m_inspector->layout()->addWidget(new ClipInspector(m_model, m_inspector));
}

void MainWindow::buildStage()
{
    m_stage = new QWidget(m_detail);
    m_stage->setObjectName(QStringLiteral("detailArea"));
    auto *layout = new QVBoxLayout(m_stage);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    static_cast<QVBoxLayout *>(m_detail->layout())->addWidget(m_stage, 1);
}

// Made once and kept in this window: the stage's GL canvas must never move to another one.
void MainWindow::buildDetailView()
{
    m_detailView = new DetailView(m_model, m_stage);
    m_detailView->setTransportBar(new TransportBar(m_model));
    m_detailView->setDeck(new TelemetryDeck(m_model));
    m_stage->layout()->addWidget(m_detailView);
    connect(m_detailView, &DetailView::settingsRequested, this, &MainWindow::settingsRequested);
    // A click on the video or the transport bar, which take no keyboard themselves, gives it to the player:
    // Delete then acts there as in the list.
    m_detailView->playerArea()->setFocusPolicy(Qt::ClickFocus);
    m_detailView->playerArea()->addActions(m_recordingActions);
}

QList<QWidget *> MainWindow::recordingAreas() const
{
    QList<QWidget *> areas;
    if (auto *list = m_clipList->findChild<ClipListView *>())
        areas.append(list->list());
    if (m_detailView)
        areas.append(m_detailView->playerArea());
    return areas;
}

void MainWindow::addRecordingAction(QAction *action)
{
    m_recordingActions.append(action);
    for (QWidget *area : recordingAreas())
        area->addAction(action);
}

void MainWindow::followInspector(bool show)
{
    if (show == m_inspector->isVisible())
        return;
    m_inspector->setVisible(show);
    // The side columns make room for it, or take back what they gave.
    applyFit();
}

void MainWindow::inspectorHandleMoved()
{
    // Dragging the inspector closed is the user hiding it.
    if (m_inspector->isVisible() && m_detailSplit->sizes().value(1) == 0) {
        m_inspector->hide();
        m_model.setShowInspector(false);
        applyFit();
        return;
    }
    if (const int width = m_detailSplit->sizes().value(1); width > 0)
        m_inspectorWidth = width;
}

void MainWindow::columnHandleMoved()
{
    syncWanted();
}

void MainWindow::syncWanted()
{
    // A column whose width is not the one the last fit gave it was set by the user: that is its wish now.
    // (The splitter's own share-out on a resize is undone by the fit that follows it at once.)
    const QList<int> sizes = m_columns->sizes();
    int *wanted[] = {&m_sidebarWidth, &m_clipListWidth};
    for (int i = 0; i < 2; ++i)
        if (sizes.value(i) > 0 && sizes.value(i) != m_lastSizes.value(i, -1))
            *wanted[i] = sizes.value(i);
    m_lastSizes = sizes.mid(0, 2);
}

std::array<int, 3> MainWindow::fitColumns(std::array<int, 3> wanted, int room, int detailLeast)
{
    const ColumnWidths limits[] = {sidebarWidths, clipListWidths, inspectorWidths};
    int used = detailLeast;
    for (int i = 0; i < 3; ++i) {
        if (wanted[i] > 0)
            wanted[i] = std::clamp(wanted[i], limits[i].minimum, limits[i].maximum);
        used += wanted[i];
    }
    int over = used - room;
    while (over > 0) {
        int giving = 0;
        for (int i = 0; i < 3; ++i)
            giving += wanted[i] > limits[i].minimum;
        if (giving == 0)
            break; // the window is below its minimum: the detail column takes the rest
        const int share = (over + giving - 1) / giving;
        for (int i = 0; i < 3 && over > 0; ++i) {
            if (wanted[i] <= limits[i].minimum)
                continue;
            const int take = std::min({share, over, wanted[i] - limits[i].minimum});
            wanted[i] -= take;
            over -= take;
        }
    }
    return wanted;
}

int MainWindow::detailLeastWidth() const
{
    const int handles = 2 * m_columns->handleWidth() + m_detailSplit->handleWidth();
    return std::max(0, minimumContentSize.width() - sidebarWidths.minimum - clipListWidths.minimum -
                           inspectorWidths.minimum - handles);
}

std::array<int, 3> MainWindow::fittedWidths() const
{
    // A column collapsed by hand (shown, but 0 wide) stays collapsed.
    const QList<int> sizes = m_columns->sizes();
    const bool sidebar = m_sidebar->isVisible() && sizes.value(0) > 0;
    const bool list = m_clipList->isVisible() && sizes.value(1) > 0;
    const bool inspector = m_inspector->isVisible();
    const int room =
        sizes.value(0) + sizes.value(1) + sizes.value(2) - (inspector ? m_detailSplit->handleWidth() : 0);
    return fitColumns(
        {sidebar ? m_sidebarWidth : 0, list ? m_clipListWidth : 0, inspector ? m_inspectorWidth : 0}, room,
        detailLeastWidth());
}

void MainWindow::applyFit()
{
    if (isAnimatingTheater() || !m_columns->isVisible())
        return;
    const auto [sidebar, list, inspector] = fittedWidths();
    const QList<int> sizes = m_columns->sizes();
    const int total = sizes.value(0) + sizes.value(1) + sizes.value(2);
    const int detailSplit = std::max(total - sidebar - list, 1);
    m_columns->setSizes({sidebar, list, detailSplit});
    if (inspector > 0)
        m_detailSplit->setSizes(
            {std::max(detailSplit - m_detailSplit->handleWidth() - inspector, 1), inspector});
    m_lastSizes = m_columns->sizes().mid(0, 2);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    // The layout has given the columns their new width by now.
    applyFit();
}

bool MainWindow::isAnimatingTheater() const
{
    return m_theaterAnimation->state() == QAbstractAnimation::Running;
}

void MainWindow::setSideMinimums(bool enforced)
{
    m_sidebar->setMinimumWidth(enforced ? sidebarWidths.minimum : 0);
    m_clipList->setMinimumWidth(enforced ? clipListWidths.minimum : 0);
}

void MainWindow::animateSideColumns(int sidebarTo, int listTo, bool hideAtEnd)
{
    m_theaterAnimation->stop();
    m_theaterAnimation->disconnect(this);
    const QList<int> from = m_columns->sizes();
    const int total = from.value(0) + from.value(1) + from.value(2);
    setSideMinimums(false);
    m_theaterAnimation->setStartValue(0.0);
    m_theaterAnimation->setEndValue(1.0);
    connect(m_theaterAnimation, &QVariantAnimation::valueChanged, this,
            [this, from, total, sidebarTo, listTo](const QVariant &value) {
                const double t = value.toDouble();
                const int sidebar = int(std::lround(from.value(0) + (sidebarTo - from.value(0)) * t));
                const int list = int(std::lround(from.value(1) + (listTo - from.value(1)) * t));
                m_columns->setSizes({sidebar, list, std::max(total - sidebar - list, 1)});
            });
    connect(m_theaterAnimation, &QVariantAnimation::finished, this, [this, hideAtEnd] {
        if (hideAtEnd) {
            m_sidebar->hide();
            m_clipList->hide();
        }
        setSideMinimums(true);
        applyFit(); // the window may have changed size meanwhile
    });
    m_theaterAnimation->start();
}

void MainWindow::followTheaterMode(bool on)
{
    if (on) {
        if (!isAnimatingTheater()) {
            syncWanted();
            // A column the user had collapsed comes back at its ideal width.
            const QList<int> sizes = m_columns->sizes();
            if (!m_sidebar->isVisible() || sizes.value(0) == 0)
                m_sidebarWidth = sidebarWidths.ideal;
            if (!m_clipList->isVisible() || sizes.value(1) == 0)
                m_clipListWidth = clipListWidths.ideal;
        }
        animateSideColumns(0, 0, true);
        return;
    }
    // Back to the widths they want, as far as the window has room for them.
    m_theaterAnimation->stop();
    setSideMinimums(false);
    m_sidebar->show();
    m_clipList->show();
    const QList<int> sizes = m_columns->sizes();
    const int total = sizes.value(0) + sizes.value(1) + sizes.value(2);
    m_columns->setSizes({0, 0, total});
    const int room =
        m_columns->sizes().value(2) - (m_inspector->isVisible() ? m_detailSplit->handleWidth() : 0);
    const auto [sidebar, list, inspector] =
        fitColumns({m_sidebarWidth, m_clipListWidth, m_inspector->isVisible() ? m_inspectorWidth : 0}, room,
                   detailLeastWidth());
    if (inspector > 0)
        m_detailSplit->setSizes(
            {std::max(m_detailSplit->width() - m_detailSplit->handleWidth() - inspector, 1), inspector});
    animateSideColumns(sidebar, list, false);
}

QRect MainWindow::firstGeometry(const QRect &available, const QMargins &frame)
{
    return FirstGeometry::fit(available, defaultSize, minimumContentSize, frame);
}

void MainWindow::showRestored()
{
    const QByteArray saved = m_model.defaults().value(geometryKey).toByteArray();
    if (saved.isEmpty() || !restoreGeometry(saved))
        m_firstGeometry->place();
    show();
    raise();
    activateWindow();
}

void MainWindow::saveGeometryNow()
{
    m_model.defaults().setValue(geometryKey, saveGeometry());
}

bool MainWindow::event(QEvent *event)
{
    // The stage's OpenGL canvas makes Qt replace the window's handle; the key handling must follow it.
    if (event->type() == QEvent::WinIdChange || event->type() == QEvent::Show)
        if (QWindow *handle = windowHandle(); handle && m_model.mainWindow() != handle)
            m_model.setMainWindow(handle);
    return QMainWindow::event(event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    saveGeometryNow();
    QMainWindow::closeEvent(event);
}
