#include "roadloom/model/LibraryStore.h"

#include "platform/BackgroundThread.h"

#include "platform/Defaults.h"
#include "platform/LogCategories.h"
#include "platform/Paths.h"
#include "platform/ThreadGroup.h"
#include "platform/Trash.h"
#include "platform/VolumeProvider.h"
#include "roadcore/ClipOrder.h"
#include "roadcore/LibraryScanner.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/CachePlanner.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/model/Observed.h"
#include "roadloom/model/OffThread.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QSet>
#include <QtConcurrent>

#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

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

LibraryStore::LibraryStore(Services services, QObject *parent)
    : QObject(parent), m_volumes(services.volumes), m_defaults(services.defaults), m_cache(services.cache),
      m_scan(std::move(services.scan)), m_trash(services.trash), m_config(services.config),
      m_checkFolder(std::move(services.checkFolder)), m_checkCard(std::move(services.checkCard))
{
    Q_ASSERT(m_volumes && m_defaults && m_cache && m_scan && m_trash && m_checkFolder && m_checkCard);

    loadFolders();
    m_volumesListing = m_volumes->isListing();
    refreshDevices();
    connect(m_volumes, &VolumeProvider::volumesChanged, this, &LibraryStore::volumesChanged);
    // Inotify answers within milliseconds; the short delay folds a burst (a copy into the parent) into one
    // check, and a busy parent still gets one check per delay.
    m_watchDelay.setSingleShot(true);
    m_watchDelay.setInterval(300);
    connect(&m_watchDelay, &QTimer::timeout, this, &LibraryStore::checkAvailability);
    m_watchThread = new QThread;
    m_watchThread->setObjectName(QStringLiteral("Folder watch"));
    m_folderWatch = new QFileSystemWatcher;
    m_folderWatch->moveToThread(m_watchThread);
    connect(m_watchThread, &QThread::finished, m_folderWatch, &QObject::deleteLater);
    m_watchThread->start();
    connect(m_folderWatch, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!m_watchDelay.isActive())
            m_watchDelay.start();
    });
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                bumpAvailabilityRevision();
        });
    }
    // The window shows meanwhile; a folder that does not answer keeps the choice from waiting for good.
    m_firstChoiceWait.setSingleShot(true);
    connect(&m_firstChoiceWait, &QTimer::timeout, this, &LibraryStore::chooseFirstSource);
    m_firstChoiceWait.start(services.firstChoiceWait);
    checkAvailability();
    chooseFirstSource(); // at once when nothing is to be asked
}

LibraryStore::~LibraryStore()
{
    // Nothing reaches the catalog once this returns; results still on their way are dropped with the store.
    finishCatalogWrites();
    // The abandoned scan's thread runs in the pool; it touches only what it shares with the store.
    if (m_scanAbandoned)
        static_cast<void>(m_scanPool.release());
    // The watch ends with its thread, unless its file system holds it: then both are left to it.
    m_watchThread->quit();
    if (m_watchThread->wait(QDeadlineTimer(100)))
        delete m_watchThread;
}

void LibraryStore::stopCatalogWrites()
{
    *m_closing = true;
}

bool LibraryStore::finishCatalogWrites(QDeadlineTimer deadline)
{
    stopCatalogWrites();
    m_scanAbandoned = !m_scanPool->waitForDone(int(deadline.remainingTime()));
    if (m_scanAbandoned)
        qCWarning(logLibrary) << "A scan or a catalog call did not end by the quit's deadline; its result is "
                                 "dropped";
    // A catalog call its file system holds (a bookmark, a stat, the search for a moved file) runs on, on a
    // thread of the scans, which is abandoned with it.
    const bool catalogLeft = m_catalog->close(deadline);
    // A check held by a folder that stopped answering touches nothing of the store's, nor the catalog: it is
    // not waited for (the program's end counts it among the file systems' work still under way).
    return !m_scanAbandoned && catalogLeft;
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
    if (!m_choosingFirst)
        return;
    const bool late = !m_firstChoiceWait.isActive();
    // A user's click or a launch's folder chose already.
    if (!m_selectedSourceID) {
        std::optional<LibrarySource> first;
        if (!late) {
            if (m_volumes->isListing())
                return;
            for (const MountedVolume &volume : std::as_const(m_volumeList))
                if (!m_cardAnswers.contains(volume.rootPath))
                    return;
        }
        if (!m_devices.isEmpty())
            first = m_devices.first();
        for (qsizetype i = 0; !first && i < m_folders.size(); ++i) {
            const QString &path = m_folders[i].urls.first();
            const auto answer = m_folderAnswers.constFind(path);
            if (answer == m_folderAnswers.cend() && !late)
                return; // an earlier folder may still be there
            if (answer != m_folderAnswers.cend() && answer->there)
                first = m_folders[i];
        }
        m_choosingFirst = false;
        setSelectedSourceID((first ? *first : LibrarySource::allMedia()).id());
    }
    m_choosingFirst = false;
    m_firstChoiceWait.stop();
}

void LibraryStore::refreshDevices()
{
    m_volumeList.clear();
    for (const MountedVolume &volume : m_volumes->mountedVolumes()) {
        if (volume.isRootFileSystem || volume.rootPath.isEmpty())
            continue;
        m_volumeList.append({normalised(volume.rootPath), volume.name, false});
    }
    for (auto answer = m_cardAnswers.begin(); answer != m_cardAnswers.end();) {
        const bool listed = std::any_of(m_volumeList.cbegin(), m_volumeList.cend(),
                                        [&](const MountedVolume &v) { return v.rootPath == answer.key(); });
        answer = listed ? std::next(answer) : m_cardAnswers.erase(answer);
    }
    m_cardsToSelect.removeIf([this](const QString &root) {
        return std::none_of(m_volumeList.cbegin(), m_volumeList.cend(),
                            [&](const MountedVolume &v) { return v.rootPath == root; });
    });
    publishDevices(); // an unmounted card goes at once
    for (const MountedVolume &volume : std::as_const(m_volumeList))
        askCard(volume.rootPath);
}

void LibraryStore::publishDevices()
{
    QList<LibrarySource> cards;
    for (const MountedVolume &volume : std::as_const(m_volumeList)) {
        const auto answer = m_cardAnswers.constFind(volume.rootPath);
        if (answer == m_cardAnswers.cend() || !answer->isCard)
            continue;
        const QString name = volume.name.isEmpty() ? lastComponent(volume.rootPath) : volume.name;
        cards.append({LibrarySource::Kind::device, name, {volume.rootPath}});
    }
    setDevices(cards);
}

void LibraryStore::askCard(const QString &root)
{
    m_questions.ask(
        QStringLiteral("card:") + root, [check = m_checkCard, root] { return check(root); },
        [this, root](const SourceCheck::Card &answer) { cardAnswered(root, answer); });
}

void LibraryStore::cardAnswered(const QString &root, const SourceCheck::Card &answer)
{
    const bool wanted = m_cardsToSelect.remove(root);
    const bool listed = std::any_of(m_volumeList.cbegin(), m_volumeList.cend(),
                                    [&](const MountedVolume &v) { return v.rootPath == root; });
    if (listed) {
        const std::optional<SourceCheck::Card> before =
            m_cardAnswers.contains(root) ? std::optional(m_cardAnswers.value(root)) : std::nullopt;
        m_cardAnswers.insert(root, answer);
        publishDevices();
        if (before ? before->configURL != answer.configURL : answer.configURL.has_value())
            bumpRevision();
        if (wanted && answer.isCard && !(before && before->isCard))
            m_newCards.insert(root);
    }
    selectNewCard();
    chooseFirstSource();
}

void LibraryStore::selectNewCard()
{
    if (m_newCards.isEmpty())
        return;
    for (const MountedVolume &volume : std::as_const(m_volumeList)) {
        if (m_cardsToSelect.contains(volume.rootPath))
            return; // a volume before it has yet to answer
        if (!m_newCards.contains(volume.rootPath))
            continue;
        // The first new card in volume order; the rest of those mounted with it are not selected.
        m_newCards.clear();
        m_cardsToSelect.clear();
        if (!m_choosingFirst)
            setSelectedSourceID(LibrarySource{LibrarySource::Kind::device, {}, {volume.rootPath}}.id());
        return;
    }
    m_newCards.clear(); // unmounted meanwhile
}

void LibraryStore::volumesChanged()
{
    bool selectionWasListed = false;
    if (m_selectedSourceID)
        for (const LibrarySource &source : sources())
            selectionWasListed = selectionWasListed || source.id() == *m_selectedSourceID;
    QSet<QString> knownCards;
    for (const LibrarySource &card : std::as_const(m_devices))
        knownCards.insert(card.urls.first());
    // The end of the provider's first listing brings the volumes that were there at the start: no new card.
    const bool firstListing = m_volumesListing && !m_volumes->isListing();
    m_volumesListing = m_volumes->isListing();

    refreshDevices();
    if (!firstListing && !m_volumesListing) {
        for (const MountedVolume &volume : std::as_const(m_volumeList))
            if (!knownCards.contains(volume.rootPath))
                m_cardsToSelect.insert(volume.rootPath);
    }
    checkAvailability();

    if (selectionWasListed && !selectedSource())
        setSelectedSourceID(LibrarySource::allMedia().id());
    chooseFirstSource();
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
        checkAvailability(); // no longer watched
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
        setClips({}, {});
        return QtFuture::makeReadyFuture();
    }
    bumpAvailabilityRevision();
    setIsScanning(true);

    const quint64 generation = ++m_rescanGeneration;
    const QString sourceID = source->id();
    return OffThread::run(
        *m_scanPool, this,
        [source = *source, cache = m_cache, scan = m_scan, filter = filter(), closing = m_closing,
         catalog = m_catalog] {
            // Reading a large catalog and scanning run on several threads, which start with this one's
            // priority: they must not take the processor from the window as it starts or plays.
            BackgroundThread::lowerCurrentPriority();
            return rescanWork(source, cache, scan, filter, closing.get(), *catalog);
        },
        [this, generation, sourceID](RescanResult result) {
            finishRescan(generation, sourceID, std::move(result));
        });
}

LibraryStore::RescanResult LibraryStore::rescanWork(const LibrarySource &source, MediaCache *cache,
                                                    const ScanFunction &scan, const Filter &filter,
                                                    const std::atomic<bool> *closing, WorkGate &catalog)
{
    RescanResult result;
    if (source.kind == LibrarySource::Kind::catalog) {
        // The catalog lists newest first already.
        catalog.run([&] { result.clips = cache->clips(MediaCacheScope::all(), {}, closing); });
    } else {
        QList<DashClip> scanned = scan(source.urls);
        if (closing && closing->load())
            return result; // the catalog is no longer written
        // Past the quit's fold the catalog is not touched: the list stays empty, and goes with the quit.
        catalog.run([&] {
            result.clips = cache->registerClips(scanned);
            // Recordings imported earlier from the same place whose files the scan no longer finds.
            QSet<QString> found;
            found.reserve(result.clips.size());
            for (const DashClip &clip : std::as_const(result.clips))
                found.insert(clip.catalogKey());
            const MediaCacheScope scope =
                source.kind == LibrarySource::Kind::files
                    ? MediaCacheScope::exactPaths(QSet<QString>(source.urls.cbegin(), source.urls.cend()))
                    : MediaCacheScope::under(source.urls);
            result.clips.append(cache->clips(scope, found, closing));
        });
        ClipOrder::sortNewestFirst(result.clips);
    }
    {
        // Both read the list only: the fingerprint of a long one is taken beside the index, or after it
        // when no thread starts.
        const auto fingerprint = [&] {
            result.fingerprint = qHashRange(result.clips.cbegin(), result.clips.cend());
        };
        ThreadGroup threads;
        const bool aside = result.clips.size() >= 10000 && threads.start(fingerprint);
        result.index = ClipListing::index(result.clips);
        if (!aside)
            fingerprint();
    }
    // The list arrives ready to show as the filter stands now; the GUI thread then only takes it.
    result.filter = filter;
    result.shown = ClipListing::shown(
        ClipListing::positions(result.clips, filter.category, filter.search, filter.sort, &result.index),
        result.clips.size(), result.index.days);
#ifdef __GLIBC__
    // Reading and ordering a long list leaves free room among what it keeps, on the heaps of the threads
    // that did it; the allocator gives such room back to the system only when asked.
    if (result.clips.size() >= 10000)
        malloc_trim(0);
#endif
    return result;
}

void LibraryStore::finishRescan(quint64 generation, const QString &sourceID, RescanResult result)
{
    if (generation != m_rescanGeneration)
        return; // a newer rescan owns the list and the scanning state
    setIsScanning(false);
    if (m_selectedSourceID != sourceID)
        return; // another source was selected meanwhile
    // The same list again keeps the views' rows, current item and scroll position.
    if (result.fingerprint != m_fingerprint) {
        // Made for another filter when it changed meanwhile: made again here then.
        std::optional<ClipListing::Shown> ready;
        if (result.filter == filter())
            ready = std::move(result.shown);
        setClips(std::move(result.clips), std::move(result.index), result.fingerprint, std::move(ready));
    } else {
        releaseElsewhere(std::move(result.clips), std::move(result.index));
    }

    // A recording still listed stays selected, even when the filter hides it now.
    if (!m_selectedClipID || indexOf(*m_selectedClipID) < 0) {
        const QList<qsizetype> &positions = m_shown.positions;
        setSelectedClipID(positions.isEmpty() ? std::nullopt
                                              : std::optional<QString>(m_clips.at(positions.first()).id));
    }
    if (m_planner)
        m_planner->start();
}

// Opening, Trash and cache state

QFuture<void> LibraryStore::open(const QStringList &paths)
{
    QStringList given;
    for (const QString &path : paths)
        given.append(normalised(path));
    // A path whose file system stopped answering holds this open's thread, never the window or another open.
    return m_opens.run([given, before = m_beforeFileAccess] { return inspect(given, before); },
                       [this, given](const QList<OpenedItem> &items) { applyOpened(given, items); });
}

QList<LibraryStore::OpenedItem> LibraryStore::inspect(const QStringList &paths,
                                                      const FileAccess &beforeFileAccess)
{
    QList<OpenedItem> items;
    for (const QString &path : paths) {
        if (beforeFileAccess)
            beforeFileAccess(path);
        OpenedItem item;
        item.path = path;
        const QFileInfo info(path);
        const QString extension = info.suffix().toLower();
        if (!info.exists()) {
            item.kind = OpenedItem::Kind::missing;
        } else if (info.isDir()) {
            item.kind = OpenedItem::Kind::folder;
        } else if (extension == QLatin1String("cfg")) {
            item.kind = OpenedItem::Kind::config;
            item.read = ConfigStore::readForOpen(path);
        } else if (LibraryScanner::videoExtensions().contains(extension)) {
            item.kind = OpenedItem::Kind::video;
            item.siblings = channelSiblings(path);
        } else {
            item.kind = OpenedItem::Kind::other;
        }
        items.append(std::move(item));
    }
    return items;
}

void LibraryStore::applyOpened(const QStringList &given, const QList<OpenedItem> &items)
{
    if (m_closing->load())
        return; // the program quits: nothing new is listed
    QStringList newVideos;
    for (const OpenedItem &item : items) {
        switch (item.kind) {
        case OpenedItem::Kind::missing:
        case OpenedItem::Kind::other:
            break;
        case OpenedItem::Kind::folder:
            addFolder(item.path);
            break;
        case OpenedItem::Kind::config:
            if (m_config && item.read)
                m_config->openRead(item.path, *item.read);
            emit configWindowRequested();
            break;
        case OpenedItem::Kind::video:
            if (newVideos.contains(item.path))
                break;
            newVideos.append(item.path);
            for (const QString &sibling : item.siblings)
                if (!newVideos.contains(sibling) && !given.contains(sibling))
                    newVideos.append(sibling);
            break;
        }
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
    QMetaObject::invokeMethod(
        this,
        [this, base] {
            rescan().then([self = QPointer<LibraryStore>(this), base] {
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
        if (file != clip.files.end() && !Paths::isInside(file->second, m_cache->root()))
            paths.append(file->second);
    }
    // The result tells why the catalog did not take the removal, if it did not.
    return OffThread::run(
        *m_scanPool, this,
        [trash = m_trash, cache = m_cache, catalog = m_catalog, paths, closing = m_closing,
         key = clip.catalogKey()]() -> Result<std::optional<Failure>> {
            if (!paths.isEmpty())
                if (Result<void> moved = trash->moveToTrash(paths); !moved)
                    return moved.failure();
            // The files are in the Trash already; the entry and its copies stay until a later removal can
            // write the catalog and delete them, and the recording shows what is left of it meanwhile.
            // Not run once the quit has closed the catalog: the change would reach no file.
            Result<void> removed = Failure{QStringLiteral("The media cache's catalog is closed."),
                                           QStringLiteral("the media cache's catalog couldn't be written")};
            catalog->run([&] { removed = cache->remove(key, true, closing.get()); });
            if (removed)
                return std::optional<Failure>();
            qCWarning(logLibrary) << "A trashed recording could not be removed from the catalog:" << key
                                  << removed.error();
            return std::optional(removed.failure());
        },
        [this, clip](const Result<std::optional<Failure>> &moved) {
            if (!moved) {
                qCWarning(logLibrary) << "Move to Trash failed:" << moved.error();
                setLastError(moved.error());
                emit trashRefused(clip.id, moved.error());
            } else if (*moved) {
                refreshCacheState();
                emit trashRefused(clip.id, QStringLiteral("The cached copies of %1 couldn't be removed: %2.")
                                               .arg(clip.name, (*moved)->cause));
            } else {
                finishTrash(clip);
            }
        });
}

void LibraryStore::finishTrash(const DashClip &clip)
{
    checkCachedCopies(); // the recording's copies went with it
    removeFromList(clip.id);
}

void LibraryStore::removeFromList(const QString &id)
{
    const std::optional<QString> next = neighbor(id, 1) ? neighbor(id, 1) : neighbor(id, -1);
    const QList<qsizetype> gone = m_index.positionsOfID(m_clips, id);
    for (auto position = gone.crbegin(); position != gone.crend(); ++position) {
        emit clipAboutToBeRemoved(*position);
        removeClip(*position);
        emit clipRemoved(*position);
    }
    if (m_selectedClipID == id)
        setSelectedClipID(next);
}

void LibraryStore::removeClip(qsizetype position)
{
    m_fingerprint.reset();
    ClipListing::remove(m_index, position, m_clips.at(position).category);
    m_clips.removeAt(position);
    QList<qsizetype> positions = std::move(m_shown.positions);
    positions.removeIf([position](qsizetype i) { return i == position; });
    for (qsizetype &i : positions)
        i -= i > position;
    // A removal can empty a day: the rows are made again.
    m_shown = ClipListing::shown(std::move(positions), m_clips.size(), m_index.days);
}

void LibraryStore::markCached(const QString &key, Channel channel)
{
    QList<qsizetype> changed = m_index.positionsOfKey(m_clips, key);
    changed.removeIf([&](qsizetype i) { return !m_clips[i].cachedChannels.insert(channel).second; });
    if (changed.isEmpty())
        return;
    m_fingerprint.reset();
    emit clipsUpdated(changed);
}

QFuture<void> LibraryStore::refreshCacheState()
{
    checkCachedCopies();
    if (m_clips.isEmpty())
        return QtFuture::makeReadyFuture();
    return OffThread::run(
        *m_scanPool, this,
        [cache = m_cache, listed = m_clips, closing = m_closing, catalog = m_catalog]() mutable {
            // Let go of the store's list at once, so that a change on the GUI thread meanwhile copies
            // nothing.
            QList<DashClip> own = std::exchange(listed, {});
            own.detach();
            QSet<QString> forgotten;
            for (DashClip &clip : own) {
                if (closing->load())
                    break; // what is left keeps its state: the list goes with the quit
                const bool asked = catalog->run([&] {
                    switch (cache->isCatalogued(clip.catalogKey())) {
                    case MediaCache::CatalogAnswer::catalogued:
                        clip = cache->resolveForPlayback(clip);
                        break;
                    case MediaCache::CatalogAnswer::notCatalogued:
                        if (withoutGoneFiles(clip))
                            forgotten.insert(clip.id);
                        break;
                    case MediaCache::CatalogAnswer::unreadable:
                        break; // the catalog may still hold it: the row stays as it is
                    }
                });
                if (!asked)
                    break;
            }
            return std::pair(std::move(own), std::move(forgotten));
        },
        [this](const std::pair<QList<DashClip>, QSet<QString>> &result) {
            const auto &[resolved, forgotten] = result;
            // The list may have changed meanwhile: only a recording still at its place is updated.
            QList<qsizetype> changed;
            for (qsizetype i = 0; i < resolved.size() && i < m_clips.size(); ++i) {
                const DashClip &now = resolved.at(i);
                DashClip &clip = m_clips[i];
                if (clip.id != now.id || forgotten.contains(clip.id))
                    continue;
                if (clip.cachedChannels == now.cachedChannels && clip.channelStates == now.channelStates &&
                    clip.files == now.files)
                    continue;
                clip.cachedChannels = now.cachedChannels;
                clip.channelStates = now.channelStates;
                clip.files = now.files;
                changed.append(i);
            }
            if (!changed.isEmpty()) {
                m_fingerprint.reset();
                emit clipsUpdated(changed);
            }
            // Forgotten by the cache (a clear) with nothing left to play: gone from the list at once. Many
            // at once make one new list: each single removal moves the rest of the list.
            if (forgotten.size() <= 64) {
                for (const QString &id : forgotten)
                    removeFromList(id);
                return;
            }
            QList<DashClip> kept = m_clips;
            kept.removeIf([&](const DashClip &clip) { return forgotten.contains(clip.id); });
            ClipListing::Index index = ClipListing::index(kept);
            setClips(std::move(kept), std::move(index));
            if (m_selectedClipID && forgotten.contains(*m_selectedClipID))
                setSelectedClipID(std::nullopt);
        });
}

bool LibraryStore::withoutGoneFiles(DashClip &clip)
{
    for (Channel channel : allChannels) {
        const auto file = clip.files.find(channel);
        if (file == clip.files.end() || QFileInfo::exists(file->second))
            continue;
        clip.channelStates[channel] = StorageState::missing;
        clip.cachedChannels.erase(channel);
        clip.files.erase(channel);
    }
    return clip.files.empty();
}

// Clip list

void LibraryStore::refilter()
{
    m_shown =
        ClipListing::shown(ClipListing::positions(m_clips, m_categoryFilter, m_searchText, m_sort, &m_index),
                           m_clips.size(), m_index.days);
    emit filteredPositionsChanged(m_shown.positions);
}

// Typing on along the prefix that every name of a camera shares keeps the same recordings shown: the list
// stays as it is, sparing a list model's reset and its view's layout and paint of every row (at 100,000
// recordings 5 ms of a keystroke, against 0.1 ms to compare the positions).
void LibraryStore::refilterKeepingSame()
{
    QList<qsizetype> positions =
        ClipListing::positions(m_clips, m_categoryFilter, m_searchText, m_sort, &m_index);
    if (positions == m_shown.positions && m_shown.rowOfPosition.size() == size_t(m_clips.size()))
        return;
    m_shown = ClipListing::shown(std::move(positions), m_clips.size(), m_index.days);
    emit filteredPositionsChanged(m_shown.positions);
}

qsizetype LibraryStore::filteredRow(qsizetype index) const
{
    const std::vector<qsizetype> &rows = m_shown.rowOfPosition;
    return index >= 0 && size_t(index) < rows.size() ? rows[size_t(index)] : -1;
}

qsizetype LibraryStore::indexOf(const QString &id) const
{
    const QList<qsizetype> positions = m_index.positionsOfID(m_clips, id);
    return positions.isEmpty() ? -1 : positions.first();
}

std::optional<QString> LibraryStore::neighbor(const QString &id, int offset) const
{
    const qsizetype position = indexOf(id);
    if (position < 0 || filteredRow(position) < 0)
        return std::nullopt;
    // Walk the whole list's neighbor order, counting only the shown recordings.
    const qsizetype step = offset < 0 ? -1 : 1;
    qsizetype rank = m_index.neighborRank[size_t(position)];
    for (int left = std::abs(offset); left > 0;) {
        rank += step;
        if (rank < 0 || size_t(rank) >= m_index.neighbor.size())
            return std::nullopt;
        if (filteredRow(m_index.neighbor[size_t(rank)]) >= 0)
            --left;
    }
    return m_clips.at(m_index.neighbor[size_t(rank)]).id;
}

bool LibraryStore::isOffline(const LibrarySource &source) const
{
    return source.kind == LibrarySource::Kind::folder && !source.urls.isEmpty() &&
           m_offlineFolders.contains(source.urls.first());
}

std::optional<QString> LibraryStore::configURL(const LibrarySource &source) const
{
    if (source.urls.isEmpty())
        return std::nullopt;
    if (source.kind == LibrarySource::Kind::device) {
        const auto answer = m_cardAnswers.constFind(source.urls.first());
        return answer == m_cardAnswers.cend() ? std::nullopt : answer->configURL;
    }
    if (source.kind == LibrarySource::Kind::folder) {
        const auto answer = m_folderAnswers.constFind(source.urls.first());
        return answer == m_folderAnswers.cend() ? std::nullopt : answer->configURL;
    }
    return std::nullopt;
}

bool LibraryStore::hasCachedCopies(const LibrarySource &source) const
{
    return source.kind == LibrarySource::Kind::folder && !source.urls.isEmpty() &&
           m_foldersWithCopies.contains(source.urls.first());
}

void LibraryStore::checkCachedCopies()
{
    const QStringList offline(m_offlineFolders.cbegin(), m_offlineFolders.cend());
    const quint64 generation = ++m_copiesGeneration;
    // On the scans' threads, not the checks': a long listing may hold the catalog's lock, and the checks of
    // the folders must not wait for it.
    OffThread::run(
        *m_scanPool, this,
        [cache = m_cache, offline, closing = m_closing,
         catalog = m_catalog]() -> std::optional<QSet<QString>> {
            if (offline.isEmpty())
                return QSet<QString>();
            std::optional<QSet<QString>> found;
            if (closing->load())
                return found; // a first read of the catalog may write it
            catalog->run([&] { found = cache->foldersWithCopies(offline, closing.get()); });
            return found;
        },
        [this, generation](const std::optional<QSet<QString>> &found) {
            // Unknown while the catalog cannot be read: the last answer stands.
            if (generation != m_copiesGeneration || !found || *found == m_foldersWithCopies)
                return;
            m_foldersWithCopies = *found;
            bumpRevision();
        });
}

void LibraryStore::checkCachedCopiesSoon()
{
    if (std::exchange(m_copiesCheckQueued, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_copiesCheckQueued = false;
            checkCachedCopies();
        },
        Qt::QueuedConnection);
}

void LibraryStore::checkAvailability()
{
    QSet<QString> paths;
    for (const LibrarySource &folder : std::as_const(m_folders))
        if (!folder.urls.isEmpty())
            paths.insert(folder.urls.first());
    // Removed folders are forgotten and no longer watched.
    for (auto answer = m_folderAnswers.begin(); answer != m_folderAnswers.end();)
        answer = paths.contains(answer.key()) ? std::next(answer) : m_folderAnswers.erase(answer);
    m_offlineFolders.intersect(paths);
    QSet<QString> watched;
    for (const SourceCheck::Folder &answer : std::as_const(m_folderAnswers))
        watched.unite(QSet<QString>(answer.watchedPlaces.cbegin(), answer.watchedPlaces.cend()));
    watchFolders(watched);
    for (const QString &path : std::as_const(paths)) {
        m_questions.ask(
            QStringLiteral("folder:") + path, [check = m_checkFolder, path] { return check(path); },
            [this, path](const SourceCheck::Folder &answer) { folderAnswered(path, answer); });
    }
    for (const MountedVolume &volume : std::as_const(m_volumeList))
        askCard(volume.rootPath);
}

void LibraryStore::folderAnswered(const QString &path, const SourceCheck::Folder &answer)
{
    const bool listed = std::any_of(m_folders.cbegin(), m_folders.cend(), [&](const LibrarySource &f) {
        return !f.urls.isEmpty() && f.urls.first() == path;
    });
    if (!listed)
        return chooseFirstSource(); // removed meanwhile
    const std::optional<SourceCheck::Folder> before =
        m_folderAnswers.contains(path) ? std::optional(m_folderAnswers.value(path)) : std::nullopt;
    m_folderAnswers.insert(path, answer);
    if (!before || before->watchedPlaces != answer.watchedPlaces) {
        QSet<QString> watched;
        for (const SourceCheck::Folder &each : std::as_const(m_folderAnswers))
            watched.unite(QSet<QString>(each.watchedPlaces.cbegin(), each.watchedPlaces.cend()));
        watchFolders(watched);
    }
    const bool offlineChanged = m_offlineFolders.contains(path) == answer.there;
    if (offlineChanged) {
        const std::optional<LibrarySource> selected = selectedSource();
        const bool selectedChanged = selected && selected->kind == LibrarySource::Kind::folder &&
                                     !selected->urls.isEmpty() && selected->urls.first() == path;
        if (answer.there)
            m_offlineFolders.remove(path);
        else
            m_offlineFolders.insert(path);
        bumpRevision();
        // Its recordings now play from their copies, or from their files again. Updated in place: a rescan
        // would list them under other ids and move the selection off the one playing.
        if (selectedChanged)
            refreshCacheState(); // which asks for the copies too
        else
            checkCachedCopiesSoon();
    } else if (before ? before->configURL != answer.configURL : answer.configURL.has_value()) {
        bumpRevision();
    }
    chooseFirstSource();
}

void LibraryStore::watchFolders(const QSet<QString> &paths)
{
    QMetaObject::invokeMethod(
        m_folderWatch,
        [watch = m_folderWatch, paths] {
            // A watch that could not be added is tried again with the next answer.
            const QStringList watched = watch->directories();
            QStringList gone;
            for (const QString &path : watched)
                if (!paths.contains(path))
                    gone.append(path);
            if (!gone.isEmpty())
                watch->removePaths(gone);
            QStringList added;
            for (const QString &path : paths)
                if (!watched.contains(path))
                    added.append(path);
            if (!added.isEmpty())
                watch->addPaths(added);
        },
        Qt::QueuedConnection);
}

void LibraryStore::bumpAvailabilityRevision()
{
    bumpRevision();
    checkAvailability();
}

void LibraryStore::bumpRevision()
{
    ++m_availabilityRevision;
    emit availabilityRevisionChanged(m_availabilityRevision);
}

QList<DashClip> LibraryStore::filteredClips() const
{
    QList<DashClip> result;
    result.reserve(m_shown.positions.size());
    for (qsizetype i : m_shown.positions)
        result.append(m_clips[i]);
    return result;
}

// Counted with the list, off the GUI thread; the index is made with every list.
int LibraryStore::count(std::optional<ClipCategory> category) const
{
    if (m_index.serialAt.size() != size_t(m_clips.size()))
        return ClipListing::count(m_clips, category);
    return ClipListing::counted(m_index, category);
}

QList<ClipCategory> LibraryStore::presentCategories() const
{
    if (m_index.serialAt.size() != size_t(m_clips.size()))
        return ClipListing::presentCategories(m_clips);
    return ClipListing::presentIn(m_index);
}

// Setters: equal values are stored silently.

void LibraryStore::setSelectedSourceID(const std::optional<QString> &id)
{
    if (!setObserved(this, m_selectedSourceID, id, &LibraryStore::selectedSourceIDChanged))
        return;
    // Never scan inside the setter: the caller may be in the middle of changing other state.
    QMetaObject::invokeMethod(
        this, [this] { rescan(); }, Qt::QueuedConnection);
}

void LibraryStore::setSelectedClipID(const std::optional<QString> &id)
{
    setObserved(this, m_selectedClipID, id, &LibraryStore::selectedClipIDChanged);
}

void LibraryStore::setCategoryFilter(std::optional<ClipCategory> category)
{
    if (setObserved(this, m_categoryFilter, category, &LibraryStore::categoryFilterChanged))
        refilterKeepingSame();
}

void LibraryStore::setSearchText(const QString &text)
{
    if (setObserved(this, m_searchText, text, &LibraryStore::searchTextChanged))
        refilterKeepingSame();
}

void LibraryStore::setSort(ClipSort sort)
{
    if (setObserved(this, m_sort, sort, &LibraryStore::sortChanged))
        refilterKeepingSame();
}

void LibraryStore::setFolders(const QList<LibrarySource> &folders)
{
    if (setObserved(this, m_folders, folders, &LibraryStore::foldersChanged))
        announceSources();
}

void LibraryStore::setDevices(const QList<LibrarySource> &devices)
{
    if (setObserved(this, m_devices, devices, &LibraryStore::devicesChanged))
        announceSources();
}

void LibraryStore::setImported(const std::optional<LibrarySource> &imported)
{
    if (setObserved(this, m_imported, imported, &LibraryStore::importedChanged))
        announceSources();
}

void LibraryStore::announceSources()
{
    emit sourcesChanged(sources());
}

void LibraryStore::setClips(QList<DashClip> clips, ClipListing::Index index,
                            std::optional<size_t> fingerprint, std::optional<ClipListing::Shown> shown)
{
    QList<DashClip> oldClips = std::exchange(m_clips, std::move(clips));
    ClipListing::Index oldIndex = std::exchange(m_index, std::move(index));
    m_fingerprint = fingerprint;
    emit clipsChanged(m_clips);
    if (shown && shown->rowOfPosition.size() == size_t(m_clips.size())) {
        m_shown = std::move(*shown);
        emit filteredPositionsChanged(m_shown.positions);
    } else {
        refilter();
    }
    releaseElsewhere(std::move(oldClips), std::move(oldIndex));
}

void LibraryStore::releaseElsewhere(QList<DashClip> clips, ClipListing::Index index)
{
    // Freeing a long list takes a while: on a worker, not between two frames.
    if (clips.size() < 10000)
        return;
    QThreadPool::globalInstance()->start([clips = std::move(clips), index = std::move(index)]() mutable {
        clips = {};
        index = {};
    });
}

void LibraryStore::setLastError(const std::optional<QString> &error)
{
    setObserved(this, m_lastError, error, &LibraryStore::lastErrorChanged);
}

void LibraryStore::setIsScanning(bool scanning)
{
    setObserved(this, m_isScanning, scanning, &LibraryStore::isScanningChanged);
}
