#include "roadloom/ui/library/ClipListView.h"

#include "platform/Panels.h"
#include "platform/gui/FileRevealer.h"
#include "roadcore/TelemetryExporter.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/LibraryStore.h"
#include "roadloom/ui/library/CategoryChips.h"
#include "roadloom/ui/library/ClipListModel.h"
#include "roadloom/ui/library/ClipRowDelegate.h"
#include "roadloom/ui/widgets/BusyIndicator.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/Symbols.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QActionGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString folderTitle = QStringLiteral("Open Dashcam Folder or SD Card");

QString sortTitle(ClipSort sort)
{
    switch (sort) {
    case ClipSort::newest:
        return QStringLiteral("Newest First");
    case ClipSort::oldest:
        return QStringLiteral("Oldest First");
    case ClipSort::name:
        return QStringLiteral("Name");
    case ClipSort::size:
        return QStringLiteral("Size");
    }
    return QString();
}

} // namespace

ClipListView::ClipListView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("clipListView"));
    LibraryStore &library = model.library();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("clipListHeader"));
    buildHeader(header);
    layout->addWidget(header);

    m_chips = new CategoryChips(library, this);
    layout->addWidget(m_chips);
    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFixedHeight(1);
    divider->setStyleSheet(
        QStringLiteral("background: %1; border: none;").arg(Palette::separator().name(QColor::HexArgb)));
    layout->addWidget(divider);

    m_stack = new QStackedWidget(this);
    layout->addWidget(m_stack, 1);
    buildPages();

    connect(&library, &LibraryStore::sourcesChanged, this, [this] {
        updateHeader();
        updatePage();
    });
    connect(&library, &LibraryStore::selectedSourceIDChanged, this, [this] {
        updateHeader();
        updatePage();
    });
    connect(&library, &LibraryStore::isScanningChanged, this, [this] {
        updateHeader();
        updatePage();
    });
    connect(&library, &LibraryStore::filteredPositionsChanged, this, [this] {
        updateHeader();
        updatePage();
    });
    connect(&library, &LibraryStore::clipRemoved, this, [this] {
        updateHeader();
        updatePage();
    });
    connect(&library, &LibraryStore::searchTextChanged, this, [this](const QString &text) {
        if (m_search->text() != text) {
            const QSignalBlocker block(m_search);
            m_search->setText(text);
            offerClearButton();
        }
        updatePage();
    });
    connect(&library, &LibraryStore::sortChanged, this, [this](ClipSort sort) {
        for (QAction *action : m_sortGroup->actions())
            if (ClipSort(action->data().toInt()) == sort)
                action->setChecked(true); // toggles the group, never triggers
    });
    connect(&library, &LibraryStore::selectedClipIDChanged, this, [this] { showSelection(true); });
    connect(m_clips, &QAbstractItemModel::modelReset, this, [this] { showSelection(true); });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ClipListView::userSelected);

    updateHeader();
    updatePage();
    showSelection(true);
}

void ClipListView::buildHeader(QWidget *header)
{
    LibraryStore &library = m_model.library();
    auto *column = new QVBoxLayout(header);
    column->setContentsMargins(12, 10, 12, 4);
    column->setSpacing(8);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(0);
    m_title = new QLabel(header);
    m_title->setObjectName(QStringLiteral("clipListTitle"));
    m_title->setFont(TextStyles::headline());
    m_title->setTextFormat(Qt::PlainText);
    m_subtitle = new QLabel(header);
    m_subtitle->setObjectName(QStringLiteral("clipListSubtitle"));
    m_subtitle->setFont(TextStyles::caption());
    QPalette secondary = m_subtitle->palette();
    secondary.setColor(QPalette::WindowText, Palette::secondaryText(palette()));
    m_subtitle->setPalette(secondary);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    titleRow->addLayout(titles, 1);

    m_sortButton = new QToolButton(header);
    m_sortButton->setObjectName(QStringLiteral("sortButton"));
    m_sortButton->setText(QStringLiteral("Sort"));
    m_sortButton->setIcon(Symbols::icon(QStringLiteral("arrow.up.arrow.down")));
    m_sortButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_sortButton->setPopupMode(QToolButton::InstantPopup);
    m_sortButton->setAutoRaise(true);
    m_sortMenu = new QMenu(m_sortButton);
    m_sortMenu->addSection(QStringLiteral("Sort"));
    m_sortGroup = new QActionGroup(m_sortMenu);
    m_sortGroup->setExclusive(true);
    for (ClipSort sort : {ClipSort::newest, ClipSort::oldest, ClipSort::name, ClipSort::size}) {
        QAction *action = m_sortMenu->addAction(sortTitle(sort));
        action->setCheckable(true);
        action->setChecked(library.sort() == sort);
        action->setData(int(sort));
        m_sortGroup->addAction(action);
        connect(action, &QAction::triggered, &library, [&library, sort] { library.setSort(sort); });
    }
    m_sortMenu->addSeparator();
    m_sortMenu->addAction(Symbols::icon(QStringLiteral("arrow.clockwise")), QStringLiteral("Rescan"),
                          &library, [&library] { library.rescan(); });
    m_sortButton->setMenu(m_sortMenu);
    titleRow->addWidget(m_sortButton, 0, Qt::AlignVCenter);
    column->addLayout(titleRow);

    m_search = new QLineEdit(header);
    m_search->setObjectName(QStringLiteral("searchField"));
    m_search->setPlaceholderText(QStringLiteral("Search recordings"));
    m_search->addAction(Symbols::icon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    m_search->setText(library.searchText());
    offerClearButton();
    connect(m_search, &QLineEdit::textChanged, this, &ClipListView::offerClearButton);
    connect(m_search, &QLineEdit::textChanged, &library, [&library](const QString &text) {
        library.setSearchText(text); // every keystroke; the field is blocked while the store sets it
    });
    column->addWidget(m_search);
}

// The clear button shows only with text, and enabling it looks its icon up in the desktop's icon themes, a
// slow search that the window's first frame would wait on: it is made with the first text instead.
void ClipListView::offerClearButton()
{
    if (!m_search->text().isEmpty() && !m_search->isClearButtonEnabled())
        m_search->setClearButtonEnabled(true);
}

void ClipListView::buildPages()
{
    LibraryStore &library = m_model.library();
    m_listPage = new QWidget;
    auto *listLayout = new QVBoxLayout(m_listPage);
    listLayout->setContentsMargins(0, 0, 0, 0);
    m_clips = new ClipListModel(library, this);
    m_list = new QListView(m_listPage);
    m_list->setObjectName(QStringLiteral("clipList"));
    m_list->setModel(m_clips);
    m_list->setItemDelegate(new ClipRowDelegate(m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setUniformItemSizes(true);
    m_list->setMouseTracking(true);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    listLayout->addWidget(m_list);
    m_busy = new BusyIndicator(BusyIndicator::Size::large, m_listPage);
    m_busy->setObjectName(QStringLiteral("scanIndicator"));
    m_busy->hide();
    m_listPage->installEventFilter(this);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        const DashClip *clip = m_clips->clip(m_list->indexAt(at).row());
        if (!clip)
            return;
        std::unique_ptr<QMenu> menu = clipMenu(*clip);
        menu->exec(m_list->viewport()->mapToGlobal(at));
    });

    m_noRecordings = new ContentUnavailableWidget(
        QStringLiteral("car.rear.and.tire.marks"), QStringLiteral("No Recordings"),
        QStringLiteral("Insert your dashcam's microSD card, open a folder, or drop video files here."));
    connect(m_noRecordings->addButton(QStringLiteral("Open Folder\u2026")), &QPushButton::clicked, this,
            &ClipListView::openFolder);
    m_noResults = new ContentUnavailableWidget;
    m_noVideos = new ContentUnavailableWidget(QStringLiteral("film.stack"), QStringLiteral("No Videos"),
                                              QStringLiteral("No MP4, MOV or AVI recordings found here."));
    m_stack->addWidget(m_listPage);
    // The pages' texts are wider than the column may be made: they never hold the column open.
    for (QWidget *page : {static_cast<QWidget *>(m_noRecordings), static_cast<QWidget *>(m_noResults),
                          static_cast<QWidget *>(m_noVideos)}) {
        page->setMinimumSize(1, 1);
        m_stack->addWidget(page);
    }
}

ContentUnavailableWidget *ClipListView::pageWidget(Page page) const
{
    switch (page) {
    case Page::noRecordings:
        return m_noRecordings;
    case Page::noResults:
        return m_noResults;
    case Page::noVideos:
        return m_noVideos;
    case Page::list:
        break;
    }
    return nullptr;
}

ClipListView::Page ClipListView::page() const
{
    QWidget *current = m_stack->currentWidget();
    if (current == m_noRecordings)
        return Page::noRecordings;
    if (current == m_noResults)
        return Page::noResults;
    if (current == m_noVideos)
        return Page::noVideos;
    return Page::list;
}

void ClipListView::updateHeader()
{
    const LibraryStore &library = m_model.library();
    QString title = QStringLiteral("Roadloom");
    bool found = false;
    for (const LibrarySource &source : library.sources())
        if (source.id() == library.selectedSourceID()) {
            title = source.name;
            found = true;
            break;
        }
    m_title->setText(title);
    m_subtitle->setText(library.isScanning() ? QStringLiteral("Scanning\u2026")
                                             : QString::number(library.filteredPositions().size()) +
                                                   QStringLiteral(" recordings"));
    m_subtitle->setVisible(found || library.isScanning());
}

void ClipListView::updatePage()
{
    const LibraryStore &library = m_model.library();
    bool sourceFound = false;
    for (const LibrarySource &source : library.sources())
        if (source.id() == library.selectedSourceID()) {
            sourceFound = true;
            break;
        }
    if (!sourceFound) {
        m_stack->setCurrentWidget(m_noRecordings);
    } else if (!library.filteredPositions().isEmpty() || library.isScanning()) {
        m_stack->setCurrentWidget(m_listPage);
    } else if (!library.searchText().isEmpty()) {
        m_noResults->showSearch(library.searchText());
        m_stack->setCurrentWidget(m_noResults);
    } else {
        m_stack->setCurrentWidget(m_noVideos);
    }
    m_busy->setVisible(library.isScanning() && m_stack->currentWidget() == m_listPage);
    if (m_busy->isVisible()) {
        placeBusy();
        m_busy->raise();
    }
}

// The store's selection, shown without writing back. A recording filtered out shows no selection and the
// store keeps it, so the player goes on with it.
void ClipListView::showSelection(bool scroll)
{
    m_following = true;
    const std::optional<QString> id = m_model.library().selectedClipID();
    const int row = id ? m_clips->rowOf(*id) : -1;
    if (row >= 0) {
        const QModelIndex index = m_clips->index(row);
        m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        if (scroll)
            m_list->scrollTo(index);
    } else {
        m_list->selectionModel()->clearSelection();
    }
    m_following = false;
}

void ClipListView::userSelected()
{
    if (m_following)
        return;
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    const DashClip *clip = selected.isEmpty() ? nullptr : m_clips->clip(selected.first().row());
    if (!clip)
        return showSelection(false); // never none from the list
    m_model.library().setSelectedClipID(clip->id);
}

void ClipListView::openFolder()
{
    const std::optional<QString> folder = m_model.panels().chooseFolder(folderTitle, QStringLiteral("Open"));
    if (folder)
        m_model.library().addFolder(*folder);
}

std::unique_ptr<QMenu> ClipListView::clipMenu(const DashClip &clip)
{
    auto menu = std::make_unique<QMenu>(this);
    AppModel &model = m_model;
    menu->addAction(Symbols::icon(QStringLiteral("folder")), QStringLiteral("Show in File Manager"), this,
                    [&model, paths = clip.allURLs()] { model.revealer().revealAll(paths); });
    menu->addAction(Symbols::icon(QStringLiteral("square.and.arrow.down")),
                    QStringLiteral("Save Original Files\u2026"), this,
                    [&model, clip] { model.saveOriginals(clip); });
    if (clip.isFullyCached()) {
        QAction *remove = menu->addAction(Symbols::icon(QStringLiteral("shield.slash")),
                                          QStringLiteral("Remove Cached Copy"), this,
                                          [&model, clip] { model.cache().removeCopy(clip); });
        // The cached copy is then the only one.
        remove->setEnabled(clip.storage() != StorageState::cached);
    } else {
        QAction *cache =
            menu->addAction(Symbols::icon(QStringLiteral("checkmark.shield")), QStringLiteral("Cache Now"),
                            this, [&model, clip] { model.cache().cacheNow(clip); });
        cache->setEnabled(clip.storage() != StorageState::missing);
    }
    QMenu *exports = menu->addMenu(QStringLiteral("Export Telemetry"));
    for (TelemetryFormat format : allTelemetryFormats)
        exports->addAction(title(format) + QStringLiteral("\u2026"), this,
                           [&model, format, clip] { model.exportTelemetry(format, clip); });
    menu->addSeparator();
    menu->addAction(Symbols::icon(QStringLiteral("trash")), QStringLiteral("Move to Trash"), this,
                    [&model, clip] { model.trash(clip); });
    return menu;
}

void ClipListView::placeBusy()
{
    const QSize size = m_busy->sizeHint();
    m_busy->setGeometry(QRect(
        QPoint((m_listPage->width() - size.width()) / 2, (m_listPage->height() - size.height()) / 2), size));
}

void ClipListView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeBusy();
}

bool ClipListView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_listPage && event->type() == QEvent::Resize)
        placeBusy();
    return QWidget::eventFilter(watched, event);
}
