#include "roadloom/ui/MainWindow.h"

#include "platform/Defaults.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/MainWindowReactions.h"
#include "roadloom/ui/DetailView.h"
#include "roadloom/ui/DropOverlay.h"
#include "roadloom/ui/TelemetryDeck.h"
#include "roadloom/ui/TransportBar.h"
#include "roadloom/ui/WindowDropTarget.h"

#include <QAbstractListModel>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QListView>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStringListModel>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

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

// The names of the listed recordings, read from the store's list when a row is drawn.
class ClipNames : public QAbstractListModel {
public:
    explicit ClipNames(LibraryStore &library, QObject *parent)
        : QAbstractListModel(parent), m_library(library)
    {
    }
    void reload()
    {
        beginResetModel();
        m_clips = m_library.clips();
        m_positions = m_library.filteredPositions();
        endResetModel();
    }
    int rowCount(const QModelIndex &parent) const override
    {
        return parent.isValid() ? 0 : int(m_positions.size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_positions.size())
            return {};
        return m_clips.at(m_positions.at(index.row())).name;
    }
    const DashClip &clip(int row) const { return m_clips.at(m_positions.at(row)); }
    int row(const std::optional<QString> &id) const
    {
        if (!id)
            return -1;
        for (qsizetype row = 0; row < m_positions.size(); ++row)
            if (m_clips.at(m_positions.at(row)).id == *id)
                return int(row);
        return -1;
    }

private:
    LibraryStore &m_library;
    QList<DashClip> m_clips;
    QList<qsizetype> m_positions;
};

QListView *plainList(QWidget *column)
{
    auto *list = new QListView(column);
    list->setUniformItemSizes(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setFrameShape(QFrame::NoFrame);
    column->layout()->addWidget(list);
    return list;
}

} // namespace

MainWindow::MainWindow(AppModel &model, QWidget *parent) : QMainWindow(parent), m_model(model)
{
    setWindowTitle(QStringLiteral("Roadloom"));
    setMinimumSize(minimumContentSize);

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
    m_columns->setStretchFactor(0, 0);
    m_columns->setStretchFactor(1, 0);
    m_columns->setStretchFactor(2, 1);
    m_columns->setSizes({sidebarWidths.ideal, clipListWidths.ideal, defaultSize.width()});
    setCentralWidget(m_columns);

    buildPlaceholders();
    buildStage();

    m_inspector->setVisible(model.showInspector());
    m_detailSplit->setSizes({defaultSize.width(), inspectorWidths.ideal});
    connect(&model, &AppModel::showInspectorChanged, this, &MainWindow::followInspector);
    connect(m_detailSplit, &QSplitter::splitterMoved, this, &MainWindow::inspectorHandleMoved);

    m_theaterAnimation = new QVariantAnimation(this);
    m_theaterAnimation->setDuration(theaterDuration);
    m_theaterAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(&model, &AppModel::theaterModeChanged, this, &MainWindow::followTheaterMode);

    m_overlay = new DropOverlay(this);
    m_dropTarget = new WindowDropTarget(this, m_overlay, this);
    connect(m_dropTarget, &WindowDropTarget::pathsDropped, this,
            [this](const QStringList &paths) { m_model.library().open(paths); });
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

MainWindow::~MainWindow() = default;

// Until the sidebar and the clip list have their own views, plain lists of names stand in for them.
void MainWindow::buildPlaceholders()
{
    LibraryStore &library = m_model.library();

    QListView *sources = plainList(m_sidebar);
    sources->setObjectName(QStringLiteral("sourceList"));
    sources->setModel(new QStringListModel(sources));
    auto showSources = [sources, &library] {
        const QSignalBlocker block(sources->selectionModel());
        QStringList names;
        int selected = -1;
        const QList<LibrarySource> all = library.sources();
        for (const LibrarySource &source : all) {
            if (source.id() == library.selectedSourceID())
                selected = int(names.size());
            names.append(source.name);
        }
        static_cast<QStringListModel *>(sources->model())->setStringList(names);
        if (selected >= 0)
            sources->setCurrentIndex(sources->model()->index(selected, 0));
    };
    showSources();
    connect(&library, &LibraryStore::sourcesChanged, sources, showSources);
    connect(&library, &LibraryStore::selectedSourceIDChanged, sources, showSources);
    connect(sources->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [&library](const QModelIndex &index) {
                const QList<LibrarySource> all = library.sources();
                if (index.isValid() && index.row() < all.size())
                    library.setSelectedSourceID(all.at(index.row()).id());
            });

    QListView *clips = plainList(m_clipList);
    clips->setObjectName(QStringLiteral("clipList"));
    auto *names = new ClipNames(library, clips);
    clips->setModel(names);
    auto showClips = [clips, names, &library] {
        const QSignalBlocker block(clips->selectionModel());
        names->reload();
        if (const int row = names->row(library.selectedClipID()); row >= 0)
            clips->setCurrentIndex(names->index(row, 0));
    };
    auto showSelection = [clips, names, &library] {
        const QSignalBlocker block(clips->selectionModel());
        const int row = names->row(library.selectedClipID());
        clips->setCurrentIndex(row >= 0 ? names->index(row, 0) : QModelIndex());
    };
    showClips();
    connect(&library, &LibraryStore::clipsChanged, clips, showClips);
    connect(&library, &LibraryStore::selectedClipIDChanged, clips, showSelection);
    connect(&library, &LibraryStore::searchTextChanged, clips, showClips);
    connect(&library, &LibraryStore::categoryFilterChanged, clips, showClips);
    connect(&library, &LibraryStore::sortChanged, clips, showClips);
    connect(clips->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [&library, names](const QModelIndex &index) {
                if (index.isValid() && index.row() < names->rowCount({}))
                    library.setSelectedClipID(names->clip(index.row()).id);
            });

    auto *inspectorPlaceholder = new QWidget(m_inspector);
    m_inspector->layout()->addWidget(inspectorPlaceholder);
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
}

void MainWindow::followInspector(bool show)
{
    if (show == m_inspector->isVisible())
        return;
    if (!show) {
        if (const int width = m_detailSplit->sizes().value(1); width > 0)
            m_inspectorWidth = width;
        m_inspector->hide();
        return;
    }
    m_inspector->show();
    const int total = m_detailSplit->width();
    const int width = std::clamp(m_inspectorWidth, inspectorWidths.minimum, inspectorWidths.maximum);
    m_detailSplit->setSizes({std::max(total - width, 1), width});
}

void MainWindow::inspectorHandleMoved()
{
    // Dragging the inspector closed is the user hiding it.
    if (m_inspector->isVisible() && m_detailSplit->sizes().value(1) == 0) {
        m_inspector->hide();
        m_model.setShowInspector(false);
    }
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
    });
    m_theaterAnimation->start();
}

void MainWindow::followTheaterMode(bool on)
{
    if (on) {
        if (!isAnimatingTheater()) {
            const QList<int> sizes = m_columns->sizes();
            m_sidebarWidth = m_sidebar->isVisible() ? sizes.value(0) : 0;
            m_clipListWidth = m_clipList->isVisible() ? sizes.value(1) : 0;
        }
        animateSideColumns(0, 0, true);
        return;
    }
    // Back to the widths they had; a column the user had collapsed comes back at its ideal width.
    const int sidebar = m_sidebarWidth > 0 ? m_sidebarWidth : sidebarWidths.ideal;
    const int list = m_clipListWidth > 0 ? m_clipListWidth : clipListWidths.ideal;
    setSideMinimums(false);
    m_sidebar->show();
    m_clipList->show();
    const QList<int> sizes = m_columns->sizes();
    m_columns->setSizes({0, 0, sizes.value(0) + sizes.value(1) + sizes.value(2)});
    animateSideColumns(sidebar, list, false);
}

QSize MainWindow::firstSize(const QSize &available)
{
    if (!available.isValid() || available.isEmpty())
        return defaultSize;
    return defaultSize.boundedTo(available).expandedTo(minimumContentSize);
}

void MainWindow::showRestored()
{
    const QByteArray saved = m_model.defaults().value(geometryKey).toByteArray();
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    if (saved.isEmpty() || !restoreGeometry(saved)) {
        const QSize size = firstSize(available.size());
        resize(size);
        if (available.isValid())
            move(available.center() - QPoint(size.width() / 2, size.height() / 2));
    }
    show();
    raise();
    activateWindow();
}

void MainWindow::saveGeometryNow()
{
    m_model.defaults().setValue(geometryKey, saveGeometry());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    saveGeometryNow();
    QMainWindow::closeEvent(event);
}
