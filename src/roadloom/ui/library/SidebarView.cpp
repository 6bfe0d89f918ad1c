#include "roadloom/ui/library/SidebarView.h"

#include "platform/Panels.h"
#include "platform/gui/FileRevealer.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/LibraryStore.h"
#include "roadloom/ui/library/CacheStatusView.h"
#include "roadloom/ui/library/SourceListModel.h"
#include "roadloom/ui/library/SourceRow.h"
#include "roadloom/ui/widgets/Symbols.h"

#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

SidebarView::SidebarView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("sidebar"));
    LibraryStore &library = model.library();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_sources = new SourceListModel(library, this);
    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("sourceList"));
    m_list->setModel(m_sources);
    m_list->setItemDelegate(new SourceRow(m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setMouseTracking(true);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->installEventFilter(this);
    layout->addWidget(m_list, 1);

    auto *footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("sidebarFooter"));
    auto *footerLayout = new QVBoxLayout(footer);
    footerLayout->setContentsMargins(12, 12, 12, 12);
    footerLayout->setSpacing(10);
    m_deviceSettings = new QPushButton(Symbols::icon(QStringLiteral("slider.horizontal.3")),
                                       QStringLiteral("Device Settings"), footer);
    m_deviceSettings->setObjectName(QStringLiteral("deviceSettingsButton"));
    m_deviceSettings->setMinimumHeight(30);
    m_deviceSettings->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    footerLayout->addWidget(m_deviceSettings);
    m_cacheStatus = new CacheStatusView(model.cache(), footer);
    footerLayout->addWidget(m_cacheStatus);
    layout->addWidget(footer);

    connect(m_deviceSettings, &QPushButton::clicked, &model, &AppModel::openDeviceSettings);
    connect(m_sources, &QAbstractItemModel::modelReset, this, &SidebarView::showSelection);
    connect(&library, &LibraryStore::selectedSourceIDChanged, this, [this] {
        showSelection();
        updateDeviceSettings();
    });
    connect(&library, &LibraryStore::sourcesChanged, this, &SidebarView::updateDeviceSettings);
    connect(&library, &LibraryStore::availabilityRevisionChanged, this, &SidebarView::updateDeviceSettings);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SidebarView::userSelected);
    connect(m_list, &QListView::clicked, this, [this](const QModelIndex &index) {
        if (m_sources->kind(index.row()) == SourceListModel::RowKind::addFolder)
            addFolder();
    });
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        const QModelIndex index = m_list->indexAt(at);
        if (std::unique_ptr<QMenu> menu = contextMenu(index.row()))
            menu->exec(m_list->viewport()->mapToGlobal(at));
    });
    showSelection();
    updateDeviceSettings();
}

// The store's selection, shown without writing back; a source that is not listed shows no selection.
void SidebarView::showSelection()
{
    m_following = true;
    const int row = m_sources->rowOf(m_model.library().selectedSourceID());
    const bool onAction =
        m_sources->kind(m_list->currentIndex().row()) == SourceListModel::RowKind::addFolder;
    if (row >= 0 && onAction) {
        // The keyboard rests on "Add Folder…": keep it there with the source still shown selected.
        m_list->selectionModel()->select(m_sources->index(row), QItemSelectionModel::ClearAndSelect);
    } else if (row >= 0) {
        const QModelIndex index = m_sources->index(row);
        m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        m_list->scrollTo(index);
    } else {
        m_list->selectionModel()->clearSelection();
    }
    m_following = false;
}

// Only a user's click or key reaches here with a source row; anything else puts the store's selection back.
void SidebarView::userSelected()
{
    if (m_following)
        return;
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    const std::optional<LibrarySource> source =
        selected.isEmpty() ? std::nullopt : m_sources->source(selected.first().row());
    if (!source)
        return showSelection();
    m_model.library().setSelectedSourceID(source->id());
}

void SidebarView::addFolder()
{
    const std::optional<QString> folder = m_model.panels().chooseFolder(
        QStringLiteral("Open Dashcam Folder or SD Card"), QStringLiteral("Open"));
    if (folder)
        m_model.library().addFolder(*folder);
}

// The store's last answer: the disk is asked with the source's availability, never here.
void SidebarView::updateDeviceSettings()
{
    const LibraryStore &library = m_model.library();
    bool show = false;
    for (const LibrarySource &source : library.sources()) {
        if (source.id() != library.selectedSourceID())
            continue;
        show = library.configURL(source).has_value();
        break;
    }
    m_deviceSettings->setVisible(show);
}

std::unique_ptr<QMenu> SidebarView::contextMenu(int row)
{
    const std::optional<LibrarySource> source = m_sources->source(row);
    if (!source)
        return nullptr;
    LibraryStore &library = m_model.library();
    auto menu = std::make_unique<QMenu>(this);
    if (source->kind == LibrarySource::Kind::folder) {
        menu->addAction(Symbols::icon(QStringLiteral("folder")), QStringLiteral("Show in File Manager"), this,
                        [this, urls = source->urls] {
                            if (!urls.isEmpty())
                                m_model.revealer().reveal(urls.first());
                        });
        menu->addAction(Symbols::icon(QStringLiteral("trash")), QStringLiteral("Remove from Sidebar"), this,
                        [&library, folder = *source] { library.remove(folder); });
    } else if (source->kind == LibrarySource::Kind::files) {
        // The opened files as they are when chosen: they may have gone meanwhile.
        menu->addAction(Symbols::icon(QStringLiteral("trash")), QStringLiteral("Clear"), this, [&library] {
            if (const std::optional<LibrarySource> imported = library.imported())
                library.remove(*imported);
        });
    } else {
        return nullptr;
    }
    return menu;
}

bool SidebarView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            m_sources->kind(m_list->currentIndex().row()) == SourceListModel::RowKind::addFolder) {
            addFolder();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
