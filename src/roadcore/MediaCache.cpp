#include "roadcore/MediaCache.h"

#include "platform/FileBookmark.h"
#include "platform/FileSize.h"
#include "platform/Paths.h"
#include "platform/StandardFolders.h"
#include "platform/StringOrder.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>

#include <algorithm>

#include <sys/stat.h>

namespace {

const QString catalogFileName = QStringLiteral("catalog.json");

struct FileFacts {
    std::optional<qint64> size;
    std::optional<QDateTime> modified;
};

// Size and content modification date in one read; both unknown when the path is no regular file.
FileFacts factsOf(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    const qint64 ms = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return {qint64(st.st_size), QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)};
}

QDateTime nowInWholeSeconds()
{
    return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
}

// Newest first; undated recordings last; on equal dates the later name first.
bool listedBefore(const DashClip &a, const DashClip &b)
{
    if (a.date != b.date) {
        if (!a.date || !b.date)
            return a.date.has_value();
        return *a.date > *b.date;
    }
    return StringOrder::compare(a.name, b.name) > 0;
}

} // namespace

MediaCache &MediaCache::shared()
{
    static MediaCache *const instance = new MediaCache(StandardFolders::mediaCacheRoot());
    return *instance;
}

MediaCache::MediaCache(QString root, MountSource mounts)
    : m_root(QDir::cleanPath(root)), m_mountSource(std::move(mounts))
{
    m_pool.setMaxThreadCount(1);
    QDir().mkpath(m_root + QLatin1String("/Files"));
    QMutexLocker lock(&m_mutex);
    load();
}

MediaCache::~MediaCache()
{
    m_pool.waitForDone();
}

QString MediaCache::catalogPath() const
{
    return m_root + QLatin1Char('/') + catalogFileName;
}

void MediaCache::beginOperation()
{
    m_mounts.reset();
}

const QList<MountEntry> &MediaCache::mounts()
{
    if (!m_mounts)
        m_mounts = m_mountSource ? m_mountSource() : QList<MountEntry>{};
    return *m_mounts;
}

void MediaCache::load()
{
    QFile file(catalogPath());
    if (!file.exists())
        return;
    std::optional<CatalogEntry::Catalog> catalog;
    if (file.open(QIODevice::ReadOnly))
        catalog = CatalogEntry::readCatalog(file.readAll());
    if (catalog)
        m_entries = std::move(*catalog);
    else
        m_catalogUnreadable = true;
}

bool MediaCache::setAsideUnreadableCatalog()
{
    const QString path = catalogPath();
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return true;
    const QString base = path + QLatin1String(".unreadable-") +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    // An earlier unreadable file of the same second keeps its name.
    for (int n = 1; n <= 1000; ++n) {
        const QString target = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            continue;
        return QFile::rename(path, target);
    }
    return false;
}

void MediaCache::save()
{
    if (m_catalogUnreadable) {
        if (!setAsideUnreadableCatalog())
            return; // never replace a catalog that could not be kept
        m_catalogUnreadable = false;
    }
    QDir().mkpath(m_root);
    QSaveFile file(catalogPath());
    if (!file.open(QIODevice::WriteOnly))
        return;
    const QByteArray bytes = CatalogEntry::writeCatalog(m_entries);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

bool MediaCache::isInsideRoot(const QString &path) const
{
    return Paths::isInside(QDir::cleanPath(path), m_root);
}

QByteArray MediaCache::makeBookmark(const QString &path)
{
    return FileBookmark::create(path, mounts());
}

std::optional<QString> MediaCache::storedCopyPath(const CatalogEntry::File &record) const
{
    const auto relative = record.usableStoredPath();
    if (!relative)
        return std::nullopt;
    return m_root + QLatin1Char('/') + *relative;
}

std::optional<QString> MediaCache::existingStoredCopy(const CatalogEntry::File &record) const
{
    auto path = storedCopyPath(record);
    if (!path || !regularFileSize(*path))
        return std::nullopt;
    return path;
}

std::set<Channel> MediaCache::cachedChannels(const CatalogEntry &entry) const
{
    std::set<Channel> channels;
    for (const auto &[letter, record] : entry.files)
        if (const auto channel = channelFromRaw(letter); channel && existingStoredCopy(record))
            channels.insert(*channel);
    return channels;
}

bool MediaCache::matches(const QString &path, const CatalogEntry::File &record)
{
    const auto size = regularFileSize(path);
    return size && *size == record.size;
}

std::optional<QString> MediaCache::resolveBookmark(CatalogEntry::File &record)
{
    if (!record.bookmark)
        return std::nullopt;
    const auto resolved = FileBookmark::resolve(*record.bookmark, mounts());
    if (!resolved)
        return std::nullopt;
    const QString &path = resolved->path;
    if (isInsideRoot(path) || path == record.originalPath || FileBookmark::isInTrash(path) ||
        !matches(path, record))
        return std::nullopt;
    record.originalPath = path;
    if (resolved->isStale) {
        const QByteArray renewed = makeBookmark(path);
        record.bookmark = renewed.isEmpty() ? std::nullopt : std::optional<QByteArray>(renewed);
    }
    return path;
}

DashClip MediaCache::resolve(CatalogEntry &entry)
{
    DashClip clip;
    clip.id = QLatin1String("catalog:") + entry.key;
    clip.name = entry.name;
    clip.category = entry.category;
    clip.date = entry.date;
    for (const auto &[letter, record] : entry.files)
        clip.byteSize += record.size;
    for (auto &[letter, record] : entry.files) {
        const auto channel = channelFromRaw(letter);
        if (!channel)
            continue;
        clip.originalFiles[*channel] = record.originalPath;
        if (matches(record.originalPath, record)) {
            clip.files[*channel] = record.originalPath;
            clip.channelStates[*channel] = StorageState::original;
            continue;
        }
        CatalogEntry::File followed = record;
        if (const auto moved = resolveBookmark(followed)) {
            record = std::move(followed); // from now on the file is at its recorded path again
            clip.files[*channel] = *moved;
            clip.originalFiles[*channel] = *moved;
            clip.channelStates[*channel] = StorageState::moved;
        } else if (const auto stored = existingStoredCopy(record)) {
            clip.files[*channel] = *stored;
            clip.channelStates[*channel] = StorageState::cached;
        } else {
            clip.channelStates[*channel] = StorageState::missing;
        }
    }
    clip.cachedChannels = cachedChannels(entry);
    return clip;
}

QList<DashClip> MediaCache::registerClips(const QList<DashClip> &clips)
{
    QMutexLocker lock(&m_mutex);
    beginOperation();
    QList<DashClip> registered;
    registered.reserve(clips.size());
    for (const DashClip &clip : clips) {
        const QString key = clip.catalogKey();
        auto [it, isNew] = m_entries.try_emplace(key);
        CatalogEntry &entry = it->second;
        if (isNew) {
            entry.key = key;
            entry.name = clip.name;
            entry.category = clip.category;
            entry.date = clip.date;
            entry.importedAt = nowInWholeSeconds();
        }
        for (const auto &[channel, path] : clip.files) {
            // A stored copy is never an import of its own.
            if (isInsideRoot(path))
                continue;
            auto [recordIt, isNewRecord] = entry.files.try_emplace(rawValue(channel));
            CatalogEntry::File &record = recordIt->second;
            if (isNewRecord) {
                record.originalPath = path;
                record.importedPath = path;
            }
            const FileFacts facts = factsOf(path);
            if (record.originalPath != path || !record.bookmark) {
                const QByteArray bookmark = makeBookmark(path);
                record.bookmark = bookmark.isEmpty() ? std::nullopt : std::optional<QByteArray>(bookmark);
            }
            record.originalPath = path;
            record.size = facts.size.value_or(0);
            record.modified = facts.modified;
        }
        DashClip result = clip;
        result.originalFiles = clip.files;
        result.channelStates.clear();
        for (const auto &file : clip.files)
            result.channelStates[file.first] = StorageState::original;
        result.cachedChannels = cachedChannels(entry);
        registered.append(std::move(result));
    }
    save();
    return registered;
}

QList<DashClip> MediaCache::clips(const Scope &scope, const QSet<QString> &excluding)
{
    QMutexLocker lock(&m_mutex);
    beginOperation();
    QStringList prefixes;
    for (const QString &folder : scope.folders) {
        QString prefix = folder;
        while (prefix.endsWith(QLatin1Char('/')))
            prefix.chop(1);
        if (!folder.isEmpty())
            prefixes.append(prefix + QLatin1Char('/'));
    }
    const auto inScope = [&](const QString &path) {
        switch (scope.kind) {
        case Scope::Kind::paths:
            return scope.paths.contains(path);
        case Scope::Kind::under:
            return std::any_of(prefixes.begin(), prefixes.end(),
                               [&](const QString &prefix) { return path.startsWith(prefix); });
        case Scope::Kind::all:
            break;
        }
        return false;
    };
    QList<DashClip> listed;
    for (auto &[key, entry] : m_entries) {
        if (excluding.contains(key))
            continue;
        const bool taken =
            scope.kind == Scope::Kind::all ||
            std::any_of(entry.files.begin(), entry.files.end(), [&](const auto &item) {
                const CatalogEntry::File &record = item.second;
                return inScope(record.originalPath) || (record.importedPath && inScope(*record.importedPath));
            });
        if (taken)
            listed.append(resolve(entry));
    }
    save();
    std::sort(listed.begin(), listed.end(), listedBefore);
    return listed;
}

DashClip MediaCache::resolveForPlayback(const DashClip &clip)
{
    QMutexLocker lock(&m_mutex);
    beginOperation();
    const auto it = m_entries.find(clip.catalogKey());
    if (it == m_entries.end())
        return clip;
    DashClip resolved = resolve(it->second);
    resolved.id = clip.id;
    save();
    return resolved;
}

QFuture<QList<DashClip>> MediaCache::registerClipsAsync(QList<DashClip> clips)
{
    return runAsync<QList<DashClip>>([this, clips = std::move(clips)] { return registerClips(clips); });
}

QFuture<QList<DashClip>> MediaCache::clipsAsync(Scope scope, QSet<QString> excluding)
{
    return runAsync<QList<DashClip>>([this, scope = std::move(scope), excluding = std::move(excluding)] {
        return clips(scope, excluding);
    });
}

QFuture<DashClip> MediaCache::resolveForPlaybackAsync(DashClip clip)
{
    return runAsync<DashClip>([this, clip = std::move(clip)] { return resolveForPlayback(clip); });
}
