#include "roadloom/model/LibraryStore.h"

#include "platform/Defaults.h"
#include "platform/StringOrder.h"
#include "platform/SystemVolumes.h"
#include "platform/Trash.h"
#include "roadcore/LibraryScanner.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/CachePlanner.h"
#include "roadloom/model/CameraCard.h"
#include "roadloom/model/ConfigStore.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QSet>
#include <QtConcurrent>

namespace {

const QString foldersKey = QStringLiteral("libraryFolders");

// A path as the store keeps it: absolute, without "." or ".." parts or a trailing separator.
QString normalised(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString withoutExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

QString lastComponent(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

} // namespace

LibraryStore::LibraryStore(QObject *parent) : LibraryStore(Services(), parent) {}

LibraryStore::LibraryStore(Services services, QObject *parent)
    : QObject(parent), m_volumes(services.volumes), m_defaults(services.defaults), m_cache(services.cache),
      m_scan(std::move(services.scan)), m_trash(services.trash), m_config(services.config)
{
    if (!m_trash)
        m_trash = &Trash::system();
    if (!m_volumes)
        m_volumes = new SystemVolumes(this);
    if (!m_defaults)
        m_defaults = &Defaults::standard();
    if (!m_cache)
        m_cache = &MediaCache::shared();
    if (!m_scan)
        m_scan = &LibraryScanner::scan;

    loadFolders();
    refreshDevices();
    connect(m_volumes, &VolumeProvider::volumesChanged, this, &LibraryStore::volumesChanged);
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                bumpAvailabilityRevision();
        });
    }
    chooseFirstSource();
}

LibraryStore::~LibraryStore()
{
    // Scans hold the catalog; let them end before it can go away. Their results are dropped with the store.
    m_scanPool.waitForDone();
}

// Sources

QList<LibrarySource> LibraryStore::sources() const
{
    QList<LibrarySource> result;
    result.reserve(1 + m_devices.size() + m_folders.size() + 1);
    result.append(LibrarySource::allMedia());
    result.append(m_devices);
    result.append(m_folders);
    if (m_imported)
        result.append(*m_imported);
    return result;
}

std::optional<LibrarySource> LibraryStore::selectedSource() const
{
    if (!m_selectedSourceID)
        return std::nullopt;
    for (const LibrarySource &source : sources())
        if (source.id() == *m_selectedSourceID)
            return source;
    return std::nullopt;
}

LibrarySource LibraryStore::folderSource(const QString &path)
{
    const QString clean = normalised(path);
    return {LibrarySource::Kind::folder, lastComponent(clean), {clean}};
}

void LibraryStore::loadFolders()
{
    // Paths that no longer exist still give a source: it shows as offline until its volume returns.
    QList<LibrarySource> folders;
    for (const QString &path : m_defaults->stringList(foldersKey))
        if (!path.isEmpty())
            folders.append(folderSource(path));
    setFolders(folders);
}

void LibraryStore::persistFolders()
{
    QStringList paths;
    for (const LibrarySource &folder : std::as_const(m_folders))
        if (!folder.urls.isEmpty())
            paths.append(folder.urls.first());
    m_defaults->setValue(foldersKey, paths);
}

void LibraryStore::chooseFirstSource()
{
    std::optional<LibrarySource> first;
    if (!m_devices.isEmpty())
        first = m_devices.first();
    for (qsizetype i = 0; !first && i < m_folders.size(); ++i)
        if (!m_folders[i].isOffline())
            first = m_folders[i];
    setSelectedSourceID((first ? *first : LibrarySource::allMedia()).id());
}

void LibraryStore::refreshDevices()
{
    QList<LibrarySource> cards;
    for (const MountedVolume &volume : m_volumes->mountedVolumes()) {
        if (volume.isRootFileSystem || volume.rootPath.isEmpty())
            continue;
        const QString root = normalised(volume.rootPath);
        if (!CameraCard::isCard(root))
            continue;
        const QString name = volume.name.isEmpty() ? lastComponent(root) : volume.name;
        cards.append({LibrarySource::Kind::device, name, {root}});
    }
    setDevices(cards);
}

void LibraryStore::volumesChanged()
{
    bool selectionWasListed = false;
    if (m_selectedSourceID)
        for (const LibrarySource &source : sources())
            selectionWasListed = selectionWasListed || source.id() == *m_selectedSourceID;
    QSet<QString> knownCards;
    for (const LibrarySource &card : std::as_const(m_devices))
        knownCards.insert(card.id());

    refreshDevices();

    for (const LibrarySource &card : std::as_const(m_devices)) {
        if (!knownCards.contains(card.id())) {
            setSelectedSourceID(card.id());
            return;
        }
    }
    if (selectionWasListed && !selectedSource())
        setSelectedSourceID(LibrarySource::allMedia().id());
}

void LibraryStore::addFolder(const QString &path)
{
    const LibrarySource candidate = folderSource(path);
    const QString root = candidate.urls.first();
    const auto card = std::find_if(m_devices.cbegin(), m_devices.cend(), [&](const LibrarySource &device) {
        return !device.urls.isEmpty() && device.urls.first() == root;
    });
    if (!m_folders.contains(candidate) && card == m_devices.cend()) {
        QList<LibrarySource> folders = m_folders;
        folders.append(candidate);
        setFolders(folders);
        persistFolders();
    }
    setSelectedSourceID(card != m_devices.cend() ? card->id() : candidate.id());
}

void LibraryStore::remove(const LibrarySource &source)
{
    switch (source.kind) {
    case LibrarySource::Kind::catalog:
    case LibrarySource::Kind::device:
        return;
    case LibrarySource::Kind::files:
        setImported(std::nullopt);
        break;
    case LibrarySource::Kind::folder: {
        QList<LibrarySource> folders = m_folders;
        folders.removeAll(source);
        setFolders(folders);
        persistFolders();
        break;
    }
    }
    if (m_selectedSourceID == source.id())
        setSelectedSourceID(LibrarySource::allMedia().id());
}

// Rescan

QFuture<void> LibraryStore::rescan()
{
    const std::optional<LibrarySource> source = selectedSource();
    if (!source) {
        setClips({});
        return QtFuture::makeReadyFuture();
    }
    bumpAvailabilityRevision();
    setIsScanning(true);

    const quint64 generation = ++m_rescanGeneration;
    const QString sourceID = source->id();
    QPointer<LibraryStore> self(this);
    return QtConcurrent::run(&m_scanPool, &LibraryStore::rescanWork, *source, m_cache, m_scan)
        .then(this, [self, generation, sourceID](QFuture<RescanResult> done) {
            // Taken, not copied: a copy would share the list with the future and make the first change
            // of `clips` copy every recording.
            if (self)
                self->finishRescan(generation, sourceID, done.takeResult());
        });
}

LibraryStore::RescanResult LibraryStore::rescanWork(const LibrarySource &source, MediaCache *cache,
                                                    const ScanFunction &scan)
{
    RescanResult result;
    if (source.kind == LibrarySource::Kind::catalog) {
        // The catalog lists newest first already.
        result.clips = cache->clips(MediaCacheScope::all(), {});
    } else {
        result.clips = cache->registerClips(scan(source.urls));
        // Recordings imported earlier from the same place whose files the scan no longer finds.
        QSet<QString> found;
        found.reserve(result.clips.size());
        for (const DashClip &clip : std::as_const(result.clips))
            found.insert(clip.catalogKey());
        const MediaCacheScope scope =
            source.kind == LibrarySource::Kind::files
                ? MediaCacheScope::exactPaths(QSet<QString>(source.urls.cbegin(), source.urls.cend()))
                : MediaCacheScope::under(source.urls);
        result.clips.append(cache->clips(scope, found));
        ClipListing::sortNewestFirst(result.clips);
    }
    result.index = ClipListing::index(result.clips);
    return result;
}

void LibraryStore::finishRescan(quint64 generation, const QString &sourceID, RescanResult result)
{
    if (generation != m_rescanGeneration)
        return; // a newer rescan owns the list and the scanning state
    setIsScanning(false);
    if (m_selectedSourceID != sourceID)
        return; // another source was selected meanwhile
    setClips(std::move(result.clips), std::move(result.index));

    // A recording still listed stays selected, even when the filter hides it now.
    const bool listed =
        m_selectedClipID && std::any_of(m_clips.cbegin(), m_clips.cend(),
                                        [this](const DashClip &c) { return c.id == *m_selectedClipID; });
    if (!listed) {
        const QList<qsizetype> shown = filteredPositions();
        setSelectedClipID(shown.isEmpty() ? std::nullopt
                                          : std::optional<QString>(m_clips.at(shown.first()).id));
    }
    if (m_planner)
        m_planner->start();
}

// Opening, Trash and cache state

void LibraryStore::open(const QStringList &paths)
{
    QStringList given;
    for (const QString &path : paths)
        given.append(normalised(path));
    QStringList newVideos;
    for (const QString &path : std::as_const(given)) {
        const QFileInfo info(path);
        if (!info.exists())
            continue;
        if (info.isDir()) {
            addFolder(path);
            continue;
        }
        const QString extension = info.suffix().toLower();
        if (extension == QLatin1String("cfg")) {
            if (m_config)
                m_config->open(path);
            emit configWindowRequested();
            continue;
        }
        if (!LibraryScanner::videoExtensions().contains(extension) || newVideos.contains(path))
            continue;
        newVideos.append(path);
        for (const QString &sibling : channelSiblings(path))
            if (!newVideos.contains(sibling) && !given.contains(sibling))
                newVideos.append(sibling);
    }
    if (newVideos.isEmpty())
        return;

    QStringList urls = m_imported ? m_imported->urls : QStringList();
    for (const QString &video : std::as_const(newVideos))
        if (!urls.contains(video))
            urls.append(video);
    const LibrarySource imported{LibrarySource::Kind::files, QStringLiteral("Imported Files"), urls};
    setImported(imported);
    const QString base =
        LibraryScanner::split(withoutExtension(QFileInfo(newVideos.first()).fileName())).base;
    setSelectedSourceID(imported.id());

    // After the rescan the selection setter may have queued, so that this one publishes last.
    QPointer<LibraryStore> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, base] {
            self->rescan().then(self.data(), [self, base] {
                if (!self)
                    return;
                for (const DashClip &clip : std::as_const(self->m_clips)) {
                    if (clip.name == base) {
                        self->setSelectedClipID(clip.id);
                        return;
                    }
                }
            });
        },
        Qt::QueuedConnection);
}

QStringList LibraryStore::channelSiblings(const QString &path)
{
    const QFileInfo info(path);
    const QString file = QDir::cleanPath(info.absoluteFilePath());
    const QString base = LibraryScanner::split(withoutExtension(info.fileName())).base;
    const QDir folder(info.absolutePath());
    QStringList siblings;
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QString &name : names) {
        const QString candidate = QDir::cleanPath(folder.absoluteFilePath(name));
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (candidate == file || dot < 0 ||
            !LibraryScanner::videoExtensions().contains(name.mid(dot + 1).toLower()))
            continue;
        if (LibraryScanner::split(name.left(dot)).base == base)
            siblings.append(candidate);
    }
    return siblings;
}

QFuture<void> LibraryStore::trash(const DashClip &clip)
{
    QStringList paths;
    for (Channel channel : allChannels) {
        const auto state = clip.channelStates.find(channel);
        if (state != clip.channelStates.end() &&
            (state->second == StorageState::cached || state->second == StorageState::missing))
            continue;
        const auto file = clip.files.find(channel);
        // A stored copy goes with the catalog entry, never to the Trash.
        if (file != clip.files.end() &&
            !(file->second + QLatin1Char('/')).startsWith(m_cache->root() + QLatin1Char('/')))
            paths.append(file->second);
    }
    Trash *trash = m_trash;
    MediaCache *cache = m_cache;
    const QString key = clip.catalogKey();
    QPointer<LibraryStore> self(this);
    return QtConcurrent::run(&m_scanPool,
                             [trash, cache, paths, key]() -> Result<void> {
                                 if (!paths.isEmpty())
                                     if (Result<void> moved = trash->moveToTrash(paths); !moved)
                                         return moved;
                                 cache->remove(key, true);
                                 return {};
                             })
        .then(this, [self, clip](const Result<void> &moved) {
            if (!self)
                return;
            if (!moved) {
                self->setLastError(moved.error());
                emit self->trashRefused(clip.id, moved.error());
            } else
                self->finishTrash(clip);
        });
}

void LibraryStore::finishTrash(const DashClip &clip)
{
    // Oldest first, the order of stepping to the previous or next recording.
    QList<DashClip> order = filteredClips();
    std::stable_sort(order.begin(), order.end(), [](const DashClip &a, const DashClip &b) {
        if (a.date != b.date)
            return a.date < b.date; // none is the most distant past
        return StringOrder::compare(a.name, b.name) < 0;
    });
    std::optional<QString> next;
    const auto at =
        std::find_if(order.cbegin(), order.cend(), [&](const DashClip &c) { return c.id == clip.id; });
    if (at != order.cend() && at + 1 != order.cend())
        next = (at + 1)->id;
    else if (at != order.cend() && at != order.cbegin())
        next = (at - 1)->id;

    QList<DashClip> clips = m_clips;
    clips.removeIf([&](const DashClip &c) { return c.id == clip.id; });
    setClips(std::move(clips));
    if (m_selectedClipID == clip.id)
        setSelectedClipID(next);
}

void LibraryStore::markCached(const QString &key, Channel channel)
{
    QList<DashClip> clips = m_clips;
    bool changed = false;
    for (DashClip &clip : clips) {
        if (clip.catalogKey() == key && !clip.cachedChannels.count(channel)) {
            clip.cachedChannels.insert(channel);
            changed = true;
        }
    }
    if (changed)
        setClips(std::move(clips));
}

QFuture<void> LibraryStore::refreshCacheState()
{
    if (m_clips.isEmpty())
        return QtFuture::makeReadyFuture();
    MediaCache *cache = m_cache;
    QPointer<LibraryStore> self(this);
    return QtConcurrent::run(&m_scanPool,
                             [cache, listed = m_clips] {
                                 QList<DashClip> resolved;
                                 resolved.reserve(listed.size());
                                 for (const DashClip &clip : listed)
                                     resolved.append(cache->resolveForPlayback(clip));
                                 return resolved;
                             })
        .then(this, [self](const QList<DashClip> &resolved) {
            if (!self)
                return;
            // The list may have changed meanwhile: only a recording still at its place is updated.
            QList<DashClip> clips = self->m_clips;
            for (qsizetype i = 0; i < resolved.size() && i < clips.size(); ++i) {
                if (clips.at(i).id != resolved.at(i).id)
                    continue;
                DashClip &clip = clips[i];
                clip.cachedChannels = resolved.at(i).cachedChannels;
                clip.channelStates = resolved.at(i).channelStates;
                clip.files = resolved.at(i).files;
            }
            self->setClips(std::move(clips));
        });
}

// Clip list

const ClipListing::Index &LibraryStore::listingIndex() const
{
    if (!m_listingIndex)
        m_listingIndex = ClipListing::index(m_clips);
    return *m_listingIndex;
}

QList<qsizetype> LibraryStore::filteredPositions() const
{
    return ClipListing::positions(m_clips, m_categoryFilter, m_searchText, m_sort, &listingIndex());
}

QList<DashClip> LibraryStore::filteredClips() const
{
    QList<DashClip> result;
    const QList<qsizetype> shown = filteredPositions();
    result.reserve(shown.size());
    for (qsizetype i : shown)
        result.append(m_clips[i]);
    return result;
}

int LibraryStore::count(std::optional<ClipCategory> category) const
{
    return ClipListing::count(m_clips, category);
}

QList<ClipCategory> LibraryStore::presentCategories() const
{
    return ClipListing::presentCategories(m_clips);
}

// Setters: equal values are stored silently.

void LibraryStore::setSelectedSourceID(const std::optional<QString> &id)
{
    if (m_selectedSourceID == id)
        return;
    m_selectedSourceID = id;
    emit selectedSourceIDChanged();
    // Never scan inside the setter: the caller may be in the middle of changing other state.
    QMetaObject::invokeMethod(
        this, [this] { rescan(); }, Qt::QueuedConnection);
}

void LibraryStore::setSelectedClipID(const std::optional<QString> &id)
{
    if (m_selectedClipID == id)
        return;
    m_selectedClipID = id;
    emit selectedClipIDChanged();
}

void LibraryStore::setCategoryFilter(std::optional<ClipCategory> category)
{
    if (m_categoryFilter == category)
        return;
    m_categoryFilter = category;
    emit categoryFilterChanged();
}

void LibraryStore::setSearchText(const QString &text)
{
    if (m_searchText == text)
        return;
    m_searchText = text;
    emit searchTextChanged(text);
}

void LibraryStore::setSort(ClipSort sort)
{
    if (m_sort == sort)
        return;
    m_sort = sort;
    emit sortChanged(sort);
}

void LibraryStore::setFolders(const QList<LibrarySource> &folders)
{
    if (m_folders == folders)
        return;
    m_folders = folders;
    emit foldersChanged();
    emit sourcesChanged();
}

void LibraryStore::setDevices(const QList<LibrarySource> &devices)
{
    if (m_devices == devices)
        return;
    m_devices = devices;
    emit devicesChanged();
    emit sourcesChanged();
}

void LibraryStore::setImported(const std::optional<LibrarySource> &imported)
{
    if (m_imported == imported)
        return;
    m_imported = imported;
    emit importedChanged();
    emit sourcesChanged();
}

void LibraryStore::setClips(QList<DashClip> clips, std::optional<ClipListing::Index> index)
{
    if (m_clips == clips)
        return;
    // The index stays valid while names and sizes stay (a change of storage state keeps them).
    if (!index && m_listingIndex && clips.size() == m_clips.size()) {
        bool same = true;
        for (qsizetype i = 0; same && i < clips.size(); ++i)
            same = clips.at(i).name == m_clips.at(i).name && clips.at(i).byteSize == m_clips.at(i).byteSize;
        if (same)
            index = std::move(m_listingIndex);
    }
    m_clips = std::move(clips);
    m_listingIndex = std::move(index);
    emit clipsChanged();
}

void LibraryStore::setLastError(const std::optional<QString> &error)
{
    if (m_lastError == error)
        return;
    m_lastError = error;
    emit lastErrorChanged();
}

void LibraryStore::setIsScanning(bool scanning)
{
    if (m_isScanning == scanning)
        return;
    m_isScanning = scanning;
    emit isScanningChanged(scanning);
}

void LibraryStore::bumpAvailabilityRevision()
{
    ++m_availabilityRevision;
    emit availabilityRevisionChanged(m_availabilityRevision);
}
