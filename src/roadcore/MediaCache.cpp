#include "roadcore/MediaCache.h"

#include "platform/LogCategories.h"

#include "platform/BackgroundThread.h"
#include "platform/FileBookmark.h"
#include "platform/FileCopy.h"
#include "platform/FileIO.h"
#include "platform/FileSize.h"
#include "platform/Folders.h"
#include "platform/Paths.h"
#include "platform/RegularFile.h"
#include "platform/StandardFolders.h"
#include "platform/StartupGate.h"
#include "platform/ThreadGroup.h"
#include "platform/UniqueFd.h"
#include "roadcore/CatalogLoader.h"
#include "roadcore/ClipOrder.h"
#include "roadcore/CopyAdoption.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QThread>
#include <QUuid>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The name of a temporary file of a copy: no record ever names one.
bool isPartialName(const QString &name)
{
    static const QRegularExpression ours(
        QStringLiteral("^\\.partial-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return ours.match(name).hasMatch();
}

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

// A freshly scanned recording with its files in place and no stored copy known.
DashClip asScanned(const DashClip &clip)
{
    DashClip result = clip;
    result.originalFiles = clip.files;
    result.channelStates.clear();
    for (const auto &file : clip.files)
        result.channelStates[file.first] = StorageState::original;
    result.cachedChannels.clear();
    return result;
}

QDateTime nowInWholeSeconds()
{
    return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
}

// Newest first; undated recordings last; on equal dates the later name first.
constexpr qint64 sampleSize = 65536;

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString systemText(int error)
{
    return QString::fromStdString(std::system_category().message(error));
}

Failure incompleteCopy(const QString &name)
{
    return Failure{QStringLiteral("Copy of %1 is incomplete.").arg(name),
                   QStringLiteral("came out incomplete")};
}

Failure unrecordable(const QString &name)
{
    return Failure{QStringLiteral("The copy of “%1” couldn't be recorded: the media cache's catalog couldn't "
                                  "be read.")
                       .arg(name),
                   QStringLiteral("couldn't be recorded: the media cache's catalog couldn't be read")};
}

Failure unsaved(const QString &name)
{
    return Failure{QStringLiteral("The copy of “%1” couldn't be recorded: the media cache's catalog couldn't "
                                  "be written.")
                       .arg(name),
                   QStringLiteral("couldn't be recorded: the media cache's catalog couldn't be written")};
}

Failure unreadable(const QString &path, const char *what, int error)
{
    return Failure{QStringLiteral("The file “%1” couldn't be %2: %3.")
                       .arg(fileNameOf(path), QLatin1String(what), systemText(error)),
                   QStringLiteral("couldn't be made: %1").arg(systemText(error))};
}

Failure catalogNotRead()
{
    return Failure{QStringLiteral("The media cache's catalog couldn't be read."),
                   QStringLiteral("the media cache's catalog couldn't be read")};
}

Failure catalogNotWritten()
{
    return Failure{QStringLiteral("The media cache's catalog couldn't be written."),
                   QStringLiteral("the media cache's catalog couldn't be written")};
}

Failure undeletable(const QString &name, int error)
{
    return Failure{
        QStringLiteral("The stored file “%1” couldn't be deleted: %2.").arg(name, systemText(error)),
        QStringLiteral("a stored file couldn't be deleted: %1").arg(systemText(error))};
}

Failure unwritable(const QString &name, int error)
{
    return Failure{QStringLiteral("The copy of “%1” couldn't be written: %2.").arg(name, systemText(error)),
                   QStringLiteral("couldn't be written: %1").arg(systemText(error))};
}

// Read as a write of the copy, so that a full or read-only disk is one line however far each copy got.
Failure folderNotMade(const QString &name, int error)
{
    return Failure{QStringLiteral("The folder for the copy of “%1” couldn't be created: %2.")
                       .arg(name, systemText(error)),
                   QStringLiteral("couldn't be written: %1").arg(systemText(error))};
}

// Renames without replacing a file at the target; 0, or the error (EEXIST when a file is there). Where the
// file system takes no such rename (NFS answers EINVAL), a hard link and the removal of the old name do the
// same.
int renameNoReplace(int fromFolder, const char *from, int toFolder, const char *to)
{
    if (::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return errno;
    if (::linkat(fromFolder, from, toFolder, to, 0) != 0)
        return errno;
    if (::unlinkat(fromFolder, from, 0) != 0) {
        const int error = errno;
        ::unlinkat(toFolder, to, 0);
        return error;
    }
    return 0;
}

// One component: a stored copy stays inside its fingerprint's folder.
bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

// "name.mp4", "name 2.mp4", "name 3.mp4", ...
QString distinctName(const QString &name, int n)
{
    if (n == 1)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = QLatin1Char(' ') + QString::number(n);
    return dot > 0 ? name.left(dot) + suffix + name.mid(dot) : name + suffix;
}

// The stored path as a key: "Files/ab//x" and "Files/ab/x" name the same file.
QString storedPathKey(const QString &storedPath)
{
    return QDir::cleanPath(storedPath);
}

// Copies the job's source into the new file `target`. Ends early, as incomplete, when `stopped` says so or
// when the source no longer is the file of the job's size at its path (it grew, shrank, vanished or was
// replaced): the copy would not be the recording.
Result<void> copyJob(const CacheJob &job, const QString &target, const std::function<bool()> &stopped)
{
    const QByteArray source = QFile::encodeName(job.source);
    const RegularFile::Opening held = RegularFile::openDescriptor(job.source);
    if (held.special)
        return Failure{RegularFile::notRegularText(job.source)};
    const UniqueFd &from = held.fd;
    struct stat opened {};
    if (!from || ::fstat(from.get(), &opened) != 0)
        return unreadable(job.source, "opened", from ? errno : held.error);
    const auto sourceUnchanged = [&] {
        struct stat now {};
        return ::stat(source.constData(), &now) == 0 && now.st_dev == opened.st_dev &&
               now.st_ino == opened.st_ino && now.st_size == job.size;
    };
    if (!sourceUnchanged())
        return incompleteCopy(job.name);
    const UniqueFd to(
        ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!to)
        return unwritable(job.name, errno);
    // Held for the whole copy, so that another instance opening the cache leaves it alone.
    ::flock(to.get(), LOCK_EX | LOCK_NB);
    const FileCopy::Outcome outcome =
        FileCopy::copy(from.get(), to.get(), [&] { return !stopped() && sourceUnchanged(); });
    if (outcome.stopped)
        return incompleteCopy(job.name);
    if (outcome.error)
        return unwritable(job.name, outcome.error);
    // On disk before the catalog names it.
    if (::fdatasync(to.get()) != 0)
        return unwritable(job.name, errno);
    struct stat written {};
    if (::fstat(to.get(), &written) != 0 || written.st_size != job.size || outcome.bytes != job.size ||
        !sourceUnchanged())
        return incompleteCopy(job.name);
    return {};
}

// Calls `visit` with each regular file below the open folder, by its folder, its name and its path relative
// to the cache root. Symbolic links are never followed: a link is no regular file and no folder here.
using FileVisit = std::function<void(int, const char *, const QString &, const struct stat &)>;

constexpr int deepest = 32; // stored copies lie three folders down

// The names in the open folder; none when it cannot be listed.
std::vector<QByteArray> namesIn(int folder)
{
    std::vector<QByteArray> names;
    const int listed = ::dup(folder);
    DIR *dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return names;
    }
    while (const dirent *item = ::readdir(dir)) {
        const QByteArray name(item->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

void forEachRegularFile(int folder, const QString &relative, int depth, const FileVisit &visit)
{
    if (depth > deepest)
        return;
    for (const QByteArray &name : namesIn(folder)) {
        struct stat st {};
        if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QString path = relative + QLatin1Char('/') + QFile::decodeName(name);
        if (S_ISDIR(st.st_mode)) {
            const UniqueFd child(
                ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (child)
                forEachRegularFile(child.get(), path, depth + 1, visit);
        } else if (S_ISREG(st.st_mode)) {
            visit(folder, name.constData(), path, st);
        }
    }
}

UniqueFd openStoredFiles(const QString &root)
{
    const UniqueFd opened(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return UniqueFd(opened ? ::openat(opened.get(), "Files", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                           : -1);
}

// The same for every regular file under the cache's "Files", and only what is proven to lie there: opened
// without following a link, walked by descriptor.
void forEachStoredFile(const QString &root, const FileVisit &visit)
{
    if (const UniqueFd files = openStoredFiles(root))
        forEachRegularFile(files.get(), QStringLiteral("Files"), 0, visit);
}

// Removes the empty folders below the open folder at `relative`, the deepest first, except those `inUse`
// names; true when it holds nothing then.
bool removeEmptyFolders(int folder, const QString &relative, int depth,
                        const std::function<bool(const QString &)> &inUse)
{
    bool empty = true;
    for (const QByteArray &name : namesIn(folder)) {
        struct stat st {};
        bool gone = false;
        const QString path = relative + QLatin1Char('/') + QFile::decodeName(name);
        if (depth < deepest && ::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode)) {
            const UniqueFd child(
                ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            gone = child && removeEmptyFolders(child.get(), path, depth + 1, inUse) && !inUse(path) &&
                   ::unlinkat(folder, name.constData(), AT_REMOVEDIR) == 0;
        }
        empty = empty && gone;
    }
    return empty;
}

} // namespace

// The temporary file of a copy in progress: known to the cache while it may exist, so that pruning spares
// it; removed unless it was moved into place.
class MediaCache::PartialCopy {
public:
    PartialCopy(MediaCache &cache, QString relative) : m_cache(cache), m_relative(std::move(relative))
    {
        std::lock_guard lock(m_cache.m_partialsMutex);
        m_cache.m_partials.insert(m_relative);
    }
    ~PartialCopy()
    {
        if (!m_installed)
            ::unlink(QFile::encodeName(path()).constData());
        std::lock_guard lock(m_cache.m_partialsMutex);
        m_cache.m_partials.remove(m_relative);
    }
    PartialCopy(const PartialCopy &) = delete;
    PartialCopy &operator=(const PartialCopy &) = delete;

    const QString &relative() const { return m_relative; }
    QString path() const { return m_cache.m_root + QLatin1Char('/') + m_relative; }
    void setInstalled() { m_installed = true; }

private:
    MediaCache &m_cache;
    const QString m_relative;
    bool m_installed = false;
};

MediaCache &MediaCache::shared()
{
    static MediaCache *const instance = new MediaCache(StandardFolders::mediaCacheRoot());
    return *instance;
}

MediaCache::MediaCache(QString root, MountSource mounts, CatalogLoader::Options reading,
                       CopyAdoption::Reads proving)
    : m_root(QDir::cleanPath(root)), m_mountSource(std::move(mounts)), m_store(m_root, std::move(reading)),
      m_adoption(m_root, std::move(proving))
{
    QDir().mkpath(m_root + QLatin1String("/Files"));
    // The catalog is read by the first operation, on whichever thread runs it: a large one takes seconds,
    // and creating the cache must not hold the window back.
}

// The journal stays: the next start folds it in.
MediaCache::~MediaCache() = default;

bool MediaCache::foldJournal()
{
    QMutexLocker lock(&m_mutex);
    return !m_loaded || m_store.fold();
}

MediaCache::QuitFold MediaCache::foldJournalForQuit(QDeadlineTimer deadline)
{
    // Set first: a call that takes the lock before the fold does nothing either.
    m_ended = true;
    if (!m_mutex.tryLock(int(deadline.remainingTime())))
        return QuitFold::skipped;
    const std::unique_lock lock(m_mutex, std::adopt_lock);
    return !m_loaded || m_store.fold() ? QuitFold::written : QuitFold::notWritten;
}

MediaCacheWrite MediaCache::writeUnsaved()
{
    QMutexLocker lock(&m_mutex);
    return m_loaded && !m_ended ? m_store.writeUnsaved() : MediaCacheWrite::nothingUnsaved;
}

void MediaCache::beginOperation()
{
    m_mounts.reset();
    // The folders read while looking for moved files answer for the operations of the next moments too
    // (a refresh resolves recording after recording, each an operation): a deleted file costs one walk of
    // its volume, not one each. Every file found is checked again on disk, so what is older than that can
    // only miss a move, until the next search.
    if (!m_moveSearch || m_moveSearchAge.hasExpired(2000)) {
        m_moveSearch = std::make_unique<FileBookmark::MoveSearch>();
        m_moveSearchAge.start();
    }
}

const QList<MountEntry> &MediaCache::mounts()
{
    std::lock_guard lock(m_mountsMutex); // the threads of a listing may ask at once
    if (!m_mounts)
        m_mounts = m_mountSource ? m_mountSource() : QList<MountEntry>{};
    return *m_mounts;
}

bool MediaCache::ensureLoaded(const std::atomic<bool> *stop)
{
    if (m_ended)
        return false;
    if (m_loaded)
        return true;
    m_loaded = load(stop);
    if (m_loaded) {
        removeAbandonedPartials();
        // Copies whose record was lost (a journal line destroyed, a catalog that could not be written)
        // are known again before anything is planned or swept.
        if (adoptUnnamedCopies(proveUnnamedCopies(stop)))
            m_store.save();
    }
    return m_loaded;
}

void MediaCache::removeAbandonedPartials()
{
    forEachStoredFile(
        m_root, [&](int folder, const char *name, const QString &relative, const struct stat &) {
            if (!isPartialName(QFile::decodeName(name)))
                return;
            {
                std::lock_guard lock(m_partialsMutex);
                if (m_partials.contains(relative))
                    return;
            }
            // A copy still being made, by another instance, holds its lock.
            const UniqueFd held(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            if (held && ::flock(held.get(), LOCK_EX | LOCK_NB) == 0)
                ::unlinkat(folder, name, 0);
        });
}

bool MediaCache::load(const std::atomic<bool> *stop)
{
    // A large catalog's read takes every core: the starting window paints first. The GUI thread itself
    // never waits, or it would wait for its own paint.
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        StartupGate::wait(std::chrono::seconds(3));
    m_copyIndex.reset();
    return m_store.load(stop);
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

ChannelSet MediaCache::cachedChannels(const CatalogEntry &entry) const
{
    ChannelSet channels;
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
    const auto resolved = FileBookmark::resolve(*record.bookmark, mounts(), m_moveSearch.get());
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

bool MediaCache::AbsentFolder::covers(const QString &file)
{
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return false;
    const QStringView folder = QStringView(file).left(slash + 1);
    if (folder == path)
        return absent;
    path = folder.toString();
    struct stat st {};
    // Only a folder that is not there at all: one that cannot be read may still hold a readable file.
    absent = ::stat(QFile::encodeName(path).constData(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
    return absent;
}

DashClip MediaCache::resolve(const CatalogEntry &entry, std::vector<MovedRecord> &moved, AbsentFolder *absent)
{
    DashClip clip;
    // Of its exact size: one id a recording of a large catalog.
    static constexpr QLatin1String idPrefix("catalog:");
    clip.id.reserve(idPrefix.size() + entry.key.size());
    clip.id.append(idPrefix).append(entry.key);
    clip.name = entry.name;
    clip.category = entry.category;
    clip.date = entry.date;
    for (const auto &[letter, record] : entry.files)
        clip.byteSize += record.size;
    for (const auto &[letter, record] : entry.files) {
        const auto channel = channelFromRaw(letter);
        if (!channel)
            continue;
        clip.originalFiles[*channel] = record.originalPath;
        if ((!absent || !absent->covers(record.originalPath)) && matches(record.originalPath, record)) {
            clip.files[*channel] = record.originalPath;
            clip.channelStates[*channel] = StorageState::original;
            continue;
        }
        CatalogEntry::File followed = record;
        if (const auto found = resolveBookmark(followed)) {
            // From now on the file is at its recorded path again.
            moved.push_back({entry.key, letter, std::move(followed)});
            clip.files[*channel] = *found;
            clip.originalFiles[*channel] = *found;
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

bool MediaCache::follow(const std::vector<MovedRecord> &moved)
{
    for (const MovedRecord &item : moved)
        m_store.putRecord(item.key, item.letter, item.record);
    return !moved.empty();
}

QList<DashClip> MediaCache::registerClips(const QList<DashClip> &clips)
{
    QMutexLocker lock(&m_mutex);
    if (!ensureLoaded()) {
        QList<DashClip> scanned;
        for (const DashClip &clip : clips)
            scanned.append(asScanned(clip));
        return scanned;
    }
    beginOperation();
    QList<DashClip> registered;
    registered.reserve(clips.size());
    for (const DashClip &clip : clips) {
        const QString key = clip.catalogKey();
        const auto found = entries().find(key);
        const bool isNew = found == entries().end();
        CatalogEntry entry = isNew ? CatalogEntry{} : found->second;
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
        DashClip result = asScanned(clip);
        result.cachedChannels = cachedChannels(entry);
        registered.append(std::move(result));
        m_store.put(std::move(entry));
    }
    m_store.save();
    return registered;
}

QList<DashClip> MediaCache::clips(const Scope &scope, const QSet<QString> &excluding,
                                  const std::atomic<bool> *stop)
{
    const auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    QMutexLocker lock(&m_mutex);
    if (stopped() || !ensureLoaded(stop))
        return {};
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
    std::vector<const CatalogEntry *> taken;
    for (const auto &[key, entry] : entries()) {
        if (excluding.contains(key))
            continue;
        if (scope.kind == Scope::Kind::all ||
            std::any_of(entry.files.begin(), entry.files.end(), [&](const auto &item) {
                const CatalogEntry::File &record = item.second;
                return inScope(record.originalPath) || (record.importedPath && inScope(*record.importedPath));
            }))
            taken.push_back(&entry);
    }
    // Resolving asks the disk about every file: a large catalog is shared out among a few threads, each
    // resolving its own entries.
    QList<DashClip> listed(qsizetype(taken.size()));
    const size_t perThread = 4096;
    const size_t threads =
        std::clamp<size_t>(taken.size() / perThread, 1, 1 + BackgroundThread::helperThreads(3));
    std::vector<std::vector<MovedRecord>> moved(threads);
    const auto resolveRange = [&](size_t part) {
        AbsentFolder absent;
        for (size_t i = part; i < taken.size() && !stopped(); i += threads)
            listed[qsizetype(i)] = resolve(*taken[i], moved[part], &absent);
    };
    {
        ThreadGroup helpers;
        size_t part = 1;
        for (; part < threads; ++part) {
            // Helpers are background work whoever asked; the asking thread keeps its priority.
            if (!helpers.start([&resolveRange, part] {
                    BackgroundThread::lowerCurrentPriority();
                    resolveRange(part);
                }))
                break;
        }
        // The parts no thread could be started for are resolved here.
        for (size_t left = part; left < threads; ++left)
            resolveRange(left);
        resolveRange(0);
    }
    bool followed = false;
    for (const auto &part : moved)
        followed = follow(part) || followed;
    if (stopped()) // what was resolved stays in the catalog in memory, written with the next change
        return {};
    // Rewriting an unchanged catalog of many recordings would cost more than the whole listing; a change
    // whose save failed is written by the next one that succeeds, or by the retry of the coordinator.
    if (followed)
        m_store.save();
    ClipOrder::sortNewestFirst(listed);
    return listed;
}

DashClip MediaCache::resolveForPlayback(const DashClip &clip)
{
    QMutexLocker lock(&m_mutex);
    if (!ensureLoaded())
        return clip;
    beginOperation();
    const auto it = entries().find(clip.catalogKey());
    if (it == entries().end())
        return clip;
    std::vector<MovedRecord> moved;
    DashClip resolved = resolve(it->second, moved);
    resolved.id = clip.id;
    if (follow(moved))
        m_store.save();
    return resolved;
}

QList<CacheJob> MediaCache::pendingJobs(CachePolicy policy, const std::optional<QString> &prioritize,
                                        const QSet<QString> &alsoInclude, const std::atomic<bool> *stop)
{
    if (policy == CachePolicy::off && alsoInclude.isEmpty())
        return {};
    QMutexLocker lock(&m_mutex);
    // While an unreadable catalog in place can be neither kept nor replaced, no copy could be recorded;
    // the user was told once why.
    if (!ensureLoaded(stop) || !m_store.canSave())
        return {};
    std::vector<const CatalogEntry *> taken;
    for (const auto &[key, entry] : entries()) {
        const bool important =
            entry.category == ClipCategory::event || entry.category == ClipCategory::manual;
        if (policy == CachePolicy::all || (policy == CachePolicy::important && important) ||
            alsoInclude.contains(key))
            taken.push_back(&entry);
    }
    const auto first = [&](const CatalogEntry *a, const CatalogEntry *b) {
        const bool aFirst = prioritize && a->key == *prioritize, bFirst = prioritize && b->key == *prioritize;
        if (aFirst != bFirst)
            return aFirst;
        if (a->date != b->date && (!a->date || !b->date))
            return a->date.has_value();
        return a->date && *a->date > *b->date;
    };
    std::stable_sort(taken.begin(), taken.end(), first);

    QList<CacheJob> jobs;
    for (const CatalogEntry *entry : taken) {
        for (Channel channel : allChannels) {
            const auto it = entry->files.find(rawValue(channel));
            if (it == entry->files.end())
                continue;
            const CatalogEntry::File &record = it->second;
            // A copy whose record reached no file yet is written by the next save that succeeds.
            if (existingStoredCopy(record))
                continue;
            // Only a file at its recorded place with its recorded size: a moved one after its resolution.
            const auto size = regularFileSize(record.originalPath);
            if (!size || *size != record.size)
                continue;
            jobs.append({entry->key, channel, record.originalPath, *size, fileNameOf(record.originalPath)});
        }
    }
    return jobs;
}

Result<QString> MediaCache::fingerprint(const QString &path, qint64 size)
{
    const RegularFile::Opening held = RegularFile::openDescriptor(path);
    if (held.special)
        return Failure{RegularFile::notRegularText(path)};
    if (!held.fd)
        return unreadable(path, "opened", held.error);
    const UniqueFd &fd = held.fd;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint64 bigEndian = qToBigEndian(size);
    hash.addData(QByteArrayView(reinterpret_cast<const char *>(&bigEndian), sizeof bigEndian));
    QByteArray sample(sampleSize, Qt::Uninitialized);
    const auto feed = [&](qint64 offset) {
        const qint64 n = FileIO::readAt(fd.get(), sample.data(), sampleSize, offset);
        if (n < 0)
            return false;
        hash.addData(QByteArrayView(sample.constData(), n));
        return true;
    };
    if (!feed(0) || (size > sampleSize && !feed(size - sampleSize)))
        return unreadable(path, "read", errno);
    return QString::fromLatin1(hash.result().first(16).toHex());
}

void MediaCache::CopyIndex::add(const CatalogEntry::File &record, int step)
{
    const auto relative = record.usableStoredPath();
    if (!relative)
        return;
    const QString key = storedPathKey(*relative);
    auto &[written, count] = references[key];
    if (count == 0)
        written = *relative;
    if ((count += step) <= 0)
        references.remove(key);
    if (!record.fingerprint)
        return;
    QHash<QString, int> &paths = byFingerprint[*record.fingerprint];
    if ((paths[key] += step) <= 0)
        paths.remove(key);
    if (paths.isEmpty())
        byFingerprint.remove(*record.fingerprint);
}

MediaCache::CopyIndex &MediaCache::copyIndex()
{
    if (!m_copyIndex) {
        m_copyIndex.emplace();
        for (const auto &[key, entry] : entries())
            for (const auto &[letter, record] : entry.files)
                m_copyIndex->add(record, 1);
    }
    return *m_copyIndex;
}

QStringList MediaCache::storedPaths(const QString &fingerprint)
{
    const CopyIndex &index = copyIndex();
    const auto paths = index.byFingerprint.constFind(fingerprint);
    if (paths == index.byFingerprint.cend())
        return {};
    QStringList existing;
    for (auto it = paths->cbegin(); it != paths->cend(); ++it) {
        const QString &relative = index.references.value(it.key()).first;
        if (regularFileSize(m_root + QLatin1Char('/') + relative))
            existing.append(relative);
    }
    return existing;
}

bool MediaCache::commit(const CacheJob &job, const QString &fingerprint, const QString &storedPath)
{
    const QString letter = rawValue(job.channel);
    const CatalogEntry::File *record = m_store.record(job.key, letter);
    if (!record)
        return true; // forgotten meanwhile: no record takes the copy, and the catalog is unchanged
    if (m_copyIndex)
        m_copyIndex->add(*record, -1);
    const bool saved = m_store.saveCopy({job.key, letter, fingerprint, storedPath});
    if (m_copyIndex)
        m_copyIndex->add(*record, 1);
    return saved;
}

Result<void> MediaCache::install(const CacheJob &job, const QString &fingerprint, PartialCopy &partial)
{
    if (!m_store.record(job.key, rawValue(job.channel)))
        return {}; // forgotten meanwhile: the copy goes with the temporary file
    const QString folder = partial.relative().section(QLatin1Char('/'), 0, -2);
    const QByteArray from = QFile::encodeName(partial.path());
    constexpr int mostNames = 1000;
    for (int n = 1; n <= mostNames; ++n) {
        const QString relative = folder + QLatin1Char('/') + distinctName(job.name, n);
        const QByteArray target = QFile::encodeName(m_root + QLatin1Char('/') + relative);
        // A file there keeps its name: another recording's copy of equal fingerprint but other bytes, or
        // one no record names that may yet be proven another's. The rename itself refuses to replace it,
        // so one that appears meanwhile is kept too.
        if (const int error = renameNoReplace(AT_FDCWD, from.constData(), AT_FDCWD, target.constData())) {
            if (error == EEXIST)
                continue;
            return unwritable(job.name, error);
        }
        partial.setInstalled();
        if (!commit(job, fingerprint, relative))
            return unsaved(job.name);
        return {};
    }
    return unwritable(job.name, EEXIST);
}

Result<void> MediaCache::perform(const CacheJob &job, const std::atomic<bool> *stop)
{
    const auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    if (!isPlainFileName(job.name))
        return incompleteCopy(job.name);
    const Result<QString> fingerprinted = fingerprint(job.source, job.size);
    if (!fingerprinted)
        return fingerprinted.failure();
    const QString &print = *fingerprinted;
    const QString folder = QLatin1String("Files/") + print.left(2) + QLatin1Char('/') + print;

    QStringList candidates;
    {
        QMutexLocker lock(&m_mutex);
        if (!ensureLoaded())
            return unrecordable(job.name);
        // Nothing is copied that could not be recorded.
        if (!m_store.canSave())
            return unsaved(job.name);
        candidates = storedPaths(print);
    }
    // A stored file no record names (its record lost, or kept while a catalog was set aside) may be this
    // copy: the comparison below proves it before it is taken, rather than copied over.
    QSet<QString> seen;
    for (const QString &candidate : std::as_const(candidates))
        seen.insert(storedPathKey(candidate));
    for (const QString &name : QDir(m_root + QLatin1Char('/') + folder)
                                   .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks))
        if (const QString relative = folder + QLatin1Char('/') + name;
            !isPartialName(name) && !seen.contains(relative))
            candidates.append(relative);
    // The fingerprint samples only part of the file: a stored copy stands for the source only when all its
    // bytes are the source's.
    for (const QString &candidate : std::as_const(candidates)) {
        const QString path = m_root + QLatin1Char('/') + candidate;
        const auto same = CopyAdoption::compareFiles(job.source, path, [&] { return !stopped(); });
        if (same == FileCopy::Comparison::stopped)
            return incompleteCopy(job.name);
        if (same != FileCopy::Comparison::equal)
            continue;
        QMutexLocker lock(&m_mutex);
        if (!ensureLoaded())
            return unrecordable(job.name);
        if (regularFileSize(path)) { // not cleared away meanwhile
            if (!commit(job, print, candidate))
                return unsaved(job.name);
            return {};
        }
    }

    // Known before its folder is made, so that a clear meanwhile leaves the folder to the copy.
    PartialCopy partial(*this, folder + QLatin1String("/.partial-") +
                                   QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    if (stopped())
        return incompleteCopy(job.name);
    if (const int error = Folders::make(m_root + QLatin1Char('/') + folder))
        return folderNotMade(job.name, error);
    if (m_afterFolderMade)
        m_afterFolderMade();
    if (Result<void> copied = copyJob(job, partial.path(), stopped); !copied)
        return copied;
    QMutexLocker lock(&m_mutex);
    if (!ensureLoaded())
        return unrecordable(job.name); // the temporary file goes with `partial`
    return install(job, print, partial);
}

std::optional<MediaCache::Usage> MediaCache::usage(const std::atomic<bool> *stop)
{
    QMutexLocker lock(&m_mutex);
    if (!ensureLoaded(stop))
        return std::nullopt;
    // Every file there takes room, whether a record names it or it is kept for what was set aside.
    Usage usage;
    forEachStoredFile(m_root, [&](int, const char *name, const QString &, const struct stat &st) {
        if (isPartialName(QFile::decodeName(name)))
            return;
        ++usage.cachedFiles;
        usage.cachedBytes += qint64(st.st_size);
    });
    usage.recordings = int(entries().size());
    return usage;
}

Result<void> MediaCache::clear(bool keepingUnavailable, const std::atomic<bool> *stop)
{
    QMutexLocker lock(&m_mutex);
    const Result<void> cleared = maintain(!keepingUnavailable, stop, [&] {
        QSet<QString> dropped;
        QStringList forgotten;
        for (const auto &[key, entry] : entries()) {
            bool available = false;
            for (const auto &[letter, record] : entry.files) {
                const bool inPlace = matches(record.originalPath, record);
                available = available || inPlace;
                if (keepingUnavailable && !inPlace)
                    continue;
                if (const auto relative = record.usableStoredPath())
                    dropped.insert(storedPathKey(*relative));
                m_store.dropCopy(key, letter);
            }
            if (!keepingUnavailable && !available)
                forgotten.append(key);
        }
        for (const QString &key : std::as_const(forgotten))
            m_store.forget(key);
        return dropped;
    });
    if (!cleared || keepingUnavailable)
        return cleared;
    m_adoption.clearUndecided();
    if (const UniqueFd files = openStoredFiles(m_root)) {
        std::lock_guard partials(m_partialsMutex);
        removeEmptyFolders(files.get(), QStringLiteral("Files"), 0, [&](const QString &folder) {
            return std::any_of(m_partials.cbegin(), m_partials.cend(), [&](const QString &partial) {
                return partial.startsWith(folder + QLatin1Char('/'));
            });
        });
    }
    m_store.removeSetAsideJournals();
    return cleared;
}

Result<void> MediaCache::remove(const QString &key, bool forget, const std::atomic<bool> *stop)
{
    QMutexLocker lock(&m_mutex);
    return maintain(false, stop, [&] {
        QSet<QString> dropped;
        const auto entry = entries().find(key);
        if (entry == entries().end())
            return dropped;
        // A forgotten recording's copies are only unreferenced: what was set aside may still name them, and
        // one that cannot be deleted is proven to no record, so it stays for a later sweep.
        if (forget) {
            m_store.forget(key);
            return dropped;
        }
        for (const auto &[letter, record] : entry->second.files) {
            if (const auto relative = record.usableStoredPath())
                dropped.insert(storedPathKey(*relative));
            m_store.dropCopy(key, letter);
        }
        return dropped;
    });
}

Result<void> MediaCache::removeReplaceableCopies(const QString &key, const std::atomic<bool> *stop)
{
    QMutexLocker lock(&m_mutex);
    return maintain(false, stop, [&] {
        beginOperation();
        QSet<QString> dropped;
        const auto entry = entries().find(key);
        if (entry == entries().end())
            return dropped;
        for (const auto &[letter, record] : entry->second.files) {
            if (!record.storedPath)
                continue;
            CatalogEntry::File kept = record;
            if (!matches(record.originalPath, record) && !resolveBookmark(kept))
                continue;
            if (const auto relative = record.usableStoredPath())
                dropped.insert(storedPathKey(*relative));
            kept.storedPath.reset();
            m_store.putRecord(key, letter, kept);
        }
        return dropped;
    });
}

Result<void> MediaCache::maintain(bool everything, const std::atomic<bool> *stop,
                                  const std::function<QSet<QString>()> &change)
{
    if (!ensureLoaded(stop))
        return catalogNotRead();
    // When everything goes, none needs finding again first. Proving lets go of the lock meanwhile, so it
    // comes before the change begins.
    const auto unnamed = everything ? std::vector<CopyAdoption::Unnamed>{} : proveUnnamedCopies(stop);
    m_store.beginChange();
    if (!everything)
        adoptUnnamedCopies(unnamed);
    const QSet<QString> before = referencedPaths();
    m_copyIndex.reset();
    const QSet<QString> dropped = change();
    Sweep sweep = setAside(before, dropped, everything);
    if (sweep.refused) {
        putBack(sweep);
        m_store.undoChange();
        return *sweep.refused;
    }
    if (!m_store.saveChange()) {
        putBack(sweep);
        return catalogNotWritten();
    }
    deleteSwept(sweep);
    return {};
}

QSet<QString> MediaCache::referencedPaths() const
{
    QSet<QString> referenced;
    for (const auto &[key, entry] : entries())
        for (const auto &[letter, record] : entry.files)
            if (const auto relative = record.usableStoredPath())
                referenced.insert(storedPathKey(*relative));
    return referenced;
}

std::vector<CopyAdoption::Unnamed> MediaCache::unnamedCopies() const
{
    std::vector<CopyAdoption::Unnamed> unnamed;
    const QSet<QString> referenced = referencedPaths();
    forEachStoredFile(m_root, [&](int, const char *name, const QString &relative, const struct stat &st) {
        if (isPartialName(QFile::decodeName(name)))
            return;
        if (auto file = CopyAdoption::unnamed(relative, qint64(st.st_size), referenced))
            unnamed.push_back(std::move(*file));
    });
    return unnamed;
}

std::vector<CopyAdoption::Unnamed> MediaCache::proveUnnamedCopies(const std::atomic<bool> *stop)
{
    const auto hasCopy = [this](const CatalogEntry::File &record) {
        return existingStoredCopy(record).has_value();
    };
    const auto proceed = [stop] { return !(stop && stop->load(std::memory_order_relaxed)); };
    std::vector<CopyAdoption::Unnamed> unnamed = unnamedCopies();
    const CopyAdoption::Questions questions = m_adoption.questions(m_store, unnamed, hasCopy);
    if (questions.isEmpty() || !proceed())
        return unnamed;
    // Whole files are read without the lock: the other operations go on meanwhile, and adopting checks
    // again, under the lock, that what was read is still what the catalog and the disk hold.
    m_mutex.unlock();
    m_adoption.answer(questions, proceed);
    m_mutex.lock();
    return unnamedCopies();
}

bool MediaCache::adoptUnnamedCopies(const std::vector<CopyAdoption::Unnamed> &unnamed)
{
    const bool adopted = m_adoption.adopt(m_store, unnamed, [this](const CatalogEntry::File &record) {
        return existingStoredCopy(record).has_value();
    });
    if (adopted)
        m_copyIndex.reset();
    return adopted;
}

MediaCache::Sweep MediaCache::setAside(const QSet<QString> &referencedBefore, const QSet<QString> &dropped,
                                       bool everything)
{
    Sweep sweep;
    const QSet<QString> referenced = referencedPaths();
    const CatalogJournal::Names &named = m_store.setAsideNames();
    // What was set aside may hold the records of files that no record names now; a catalog kept as
    // unreadable may name any file, so only what a record named before this change is known to be free.
    const auto spared = [&](const QString &relative) {
        return m_adoption.undecided().contains(relative) || named.covers(relative) ||
               (m_store.setAsideMayNameAny() && !referencedBefore.contains(relative));
    };
    forEachStoredFile(
        m_root, [&](int folder, const char *name, const QString &relative, const struct stat &) {
            if (referenced.contains(relative))
                return;
            // Temporary files go in every case, the copies the user dropped too.
            const bool temporary = isPartialName(QFile::decodeName(name));
            const bool dropping = !temporary && (everything || dropped.contains(relative));
            if (!temporary && !dropping && spared(relative))
                return;
            {
                std::lock_guard lock(m_partialsMutex);
                if (m_partials.contains(relative))
                    return;
            }
            if (!dropping) {
                sweep.loose.insert(relative);
                return;
            }
            if (sweep.refused)
                return;
            const QString aside =
                QLatin1String(".partial-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
            if (const int error = renameNoReplace(folder, name, folder, QFile::encodeName(aside).constData()))
                sweep.refused = undeletable(QFile::decodeName(name), error);
            else
                sweep.aside.insert(relative.section(QLatin1Char('/'), 0, -2) + QLatin1Char('/') + aside,
                                   relative);
        });
    return sweep;
}

void MediaCache::putBack(const Sweep &sweep)
{
    if (sweep.aside.isEmpty())
        return;
    forEachStoredFile(
        m_root, [&](int folder, const char *name, const QString &relative, const struct stat &) {
            const auto was = sweep.aside.constFind(relative);
            if (was == sweep.aside.cend())
                return;
            if (const int error =
                    renameNoReplace(folder, name, folder, QFile::encodeName(fileNameOf(*was)).constData()))
                qCWarning(logCache) << "A stored file could not be given its name back:" << *was
                                    << systemText(error);
        });
}

void MediaCache::deleteSwept(const Sweep &sweep)
{
    forEachStoredFile(
        m_root, [&](int folder, const char *name, const QString &relative, const struct stat &) {
            if (!sweep.aside.contains(relative) && !sweep.loose.contains(relative))
                return;
            std::lock_guard lock(m_partialsMutex);
            // One that stays keeps a name no record takes, or none names: a later sweep deletes it.
            if (!m_partials.contains(relative) && ::unlinkat(folder, name, 0) != 0)
                qCWarning(logCache) << "A stored file could not be deleted:" << relative << systemText(errno);
        });
}

MediaCache::CatalogAnswer MediaCache::isCatalogued(const QString &key)
{
    QMutexLocker lock(&m_mutex);
    if (!ensureLoaded())
        return CatalogAnswer::unreadable;
    if (entries().count(key))
        return CatalogAnswer::catalogued;
    return m_store.isUnreadableInPlace() ? CatalogAnswer::unreadable : CatalogAnswer::notCatalogued;
}

std::optional<QSet<QString>> MediaCache::foldersWithCopies(const QStringList &folders,
                                                           const std::atomic<bool> *stop)
{
    QMutexLocker lock(&m_mutex);
    if (!ensureLoaded(stop))
        return std::nullopt;
    QList<std::pair<QString, QString>> prefixes; // with the folder as given
    for (const QString &folder : folders) {
        QString prefix = folder;
        while (prefix.endsWith(QLatin1Char('/')))
            prefix.chop(1);
        if (!folder.isEmpty())
            prefixes.append({prefix + QLatin1Char('/'), folder});
    }
    QSet<QString> found;
    for (const auto &[key, entry] : entries()) {
        QSet<QString> holding;
        for (const auto &[letter, record] : entry.files)
            for (const auto &[prefix, folder] : std::as_const(prefixes))
                if (record.originalPath.startsWith(prefix) ||
                    (record.importedPath && record.importedPath->startsWith(prefix)))
                    holding.insert(folder);
        holding.subtract(found);
        if (holding.isEmpty())
            continue;
        if (std::any_of(entry.files.begin(), entry.files.end(), [&](const auto &item) {
                return channelFromRaw(item.first) && existingStoredCopy(item.second);
            }))
            found.unite(holding);
    }
    return found;
}

std::optional<QString> MediaCache::takeSetAsideCatalog()
{
    QMutexLocker lock(&m_mutex);
    if (!ensureLoaded())
        return std::nullopt;
    return m_store.takeSetAsideCatalog();
}
