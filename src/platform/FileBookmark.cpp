#include "platform/FileBookmark.h"

#include "platform/Paths.h"

#include <QCborMap>
#include <QCborStreamReader>
#include <QCborValue>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>

namespace FileBookmark {

namespace {

const QByteArray magic("RLB\x01", 4);
// A folder this large is not a camera folder any more; stop looking for a renamed file.
constexpr int maxEntriesSearched = 100000;

enum Key : int {
    uuidKey = 1,
    deviceKey,
    sourceKey,
    mountPointKey,
    mountRootKey,
    relativeKey,
    inodeKey,
    sizeKey,
    modifiedKey
};

QString join(const QString &folder, const QString &relative)
{
    if (relative.isEmpty())
        return folder;
    if (folder.endsWith(QLatin1Char('/')))
        return folder + relative;
    return folder + QLatin1Char('/') + relative;
}

// `path` relative to `folder` (which contains it), without a leading "/".
QString relativeTo(const QString &path, const QString &folder)
{
    QStringView rest = QStringView(path).sliced(qMin(folder.size(), path.size()));
    while (rest.startsWith(QLatin1Char('/')))
        rest = rest.sliced(1);
    return rest.toString();
}

std::optional<struct stat> statOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return st;
}

bool isFile(const std::optional<struct stat> &st)
{
    return st && S_ISREG(st->st_mode);
}

bool sameFile(const struct stat &st, const Contents &c)
{
    return S_ISREG(st.st_mode) && quint64(st.st_ino) == c.inode && qint64(st.st_size) == c.size;
}

qint64 modifiedOf(const struct stat &st)
{
    return qint64(st.st_mtim.tv_sec) * 1'000'000'000 + qint64(st.st_mtim.tv_nsec);
}

struct Candidate {
    QString path;
    bool strongIdentity = false;
    QString mountPoint; // of the mount it is on
    quint64 device = 0; // of the files on that mount
};

bool isTrashName(QByteArrayView name)
{
    return name == ".Trash" || name.startsWith(".Trash-");
}

// Where the bookmarked file would be on each mount of its volume that is mounted now.
QList<Candidate> candidates(const Contents &c, const QList<MountEntry> &mounts)
{
    const QString inVolume = join(c.mountRoot, c.relativePath);
    QList<Candidate> found;
    for (const MountEntry &mount : mounts) {
        // An automount point would mount the volume on the first look.
        if (mount.fsType == QLatin1String("autofs"))
            continue;
        const bool strong = !c.uuid.isEmpty();
        if (strong ? mount.uuid != c.uuid : (mount.device != c.device || mount.source != c.source))
            continue;
        if (!Paths::isInside(inVolume, mount.root))
            continue;
        const Candidate candidate{join(mount.mountPoint, relativeTo(inVolume, mount.root)), strong,
                                  mount.mountPoint, mount.device};
        if (std::any_of(found.begin(), found.end(),
                        [&](const Candidate &f) { return f.path == candidate.path; }))
            continue;
        // The place it was made for first.
        if (candidate.path == c.path())
            found.prepend(candidate);
        else
            found.append(candidate);
    }
    return found;
}

// A file renamed within its folder keeps its inode and size.
std::optional<QString> findRenamed(const QString &folder, const Contents &c)
{
    const QByteArray encodedFolder = QFile::encodeName(folder);
    DIR *dir = ::opendir(encodedFolder.constData());
    if (!dir)
        return std::nullopt;
    std::optional<QString> found;
    int seen = 0;
    while (const dirent *item = ::readdir(dir)) {
        if (++seen > maxEntriesSearched)
            break;
        const QByteArray name(item->d_name);
        if (name == "." || name == "..")
            continue;
        if (item->d_ino != 0 && quint64(item->d_ino) != c.inode)
            continue;
        const QString path = join(folder, QFile::decodeName(name));
        if (const auto st = statOf(path); st && sameFile(*st, c)) {
            found = path;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// The volume UUID a bookmark leads with (as `encode` writes it), read without decoding the rest; none when
// it has none or does not lead with it.
std::optional<QString> leadingUuid(const QByteArray &bookmark)
{
    if (!bookmark.startsWith(magic))
        return std::nullopt;
    QCborStreamReader reader(bookmark.sliced(magic.size()));
    if (!reader.isMap() || !reader.enterContainer() || !reader.hasNext() || !reader.isUnsignedInteger() ||
        reader.toUnsignedInteger() != quint64(uuidKey) || !reader.next() || !reader.isString())
        return std::nullopt;
    QString uuid;
    for (auto chunk = reader.readString(); chunk.status == QCborStreamReader::Ok; chunk = reader.readString())
        uuid += chunk.data;
    if (reader.lastError() != QCborError::NoError)
        return std::nullopt;
    return uuid;
}

} // namespace

QString Contents::path() const
{
    return join(mountPoint, relativePath);
}

QByteArray encode(const Contents &c)
{
    QCborMap map;
    if (!c.uuid.isEmpty())
        map.insert(uuidKey, c.uuid);
    map.insert(deviceKey, qint64(c.device));
    map.insert(sourceKey, c.source);
    map.insert(mountPointKey, c.mountPoint);
    if (c.mountRoot != QLatin1String("/"))
        map.insert(mountRootKey, c.mountRoot);
    map.insert(relativeKey, c.relativePath);
    map.insert(inodeKey, qint64(c.inode));
    map.insert(sizeKey, c.size);
    if (c.modified != 0)
        map.insert(modifiedKey, c.modified);
    return magic + map.toCborValue().toCbor();
}

std::optional<Contents> decode(const QByteArray &bookmark)
{
    if (!bookmark.startsWith(magic))
        return std::nullopt;
    QCborParserError error;
    const QCborValue value = QCborValue::fromCbor(bookmark.sliced(magic.size()), &error);
    if (error.error != QCborError::NoError || !value.isMap())
        return std::nullopt;
    const QCborMap map = value.toMap();
    const auto text = [&](int key, QString &out, bool required) {
        const QCborValue v = map.value(key);
        if (v.isUndefined())
            return !required;
        if (!v.isString())
            return false;
        out = v.toString();
        return true;
    };
    const auto integer = [&](int key, auto &out) {
        const QCborValue v = map.value(key);
        if (!v.isInteger())
            return false;
        out = decltype(+out)(v.toInteger());
        return true;
    };
    Contents c;
    if (!text(uuidKey, c.uuid, false) || !text(sourceKey, c.source, true) ||
        !text(mountPointKey, c.mountPoint, true) || !text(mountRootKey, c.mountRoot, false) ||
        !text(relativeKey, c.relativePath, true) || !integer(deviceKey, c.device) ||
        !integer(inodeKey, c.inode) || !integer(sizeKey, c.size) ||
        (map.contains(modifiedKey) && !integer(modifiedKey, c.modified)))
        return std::nullopt;
    // A bookmark only ever names a place inside its volume.
    if (!c.mountPoint.startsWith(QLatin1Char('/')) || !c.mountRoot.startsWith(QLatin1Char('/')) ||
        c.relativePath.startsWith(QLatin1Char('/')) || Paths::hasComponent(c.relativePath, u"..") ||
        Paths::hasComponent(c.mountRoot, u".."))
        return std::nullopt;
    return c;
}

QByteArray create(const QString &path)
{
    return create(path, MountTable::current());
}

QByteArray create(const QString &path, const QList<MountEntry> &mounts)
{
    if (!path.startsWith(QLatin1Char('/')))
        return {};
    const auto st = statOf(path);
    if (!isFile(st))
        return {};
    QString clean = QDir::cleanPath(path);
    const MountEntry *mount = MountTable::containing(mounts, clean, quint64(st->st_dev));
    if (mount && mount->device != quint64(st->st_dev)) {
        // A symbolic link on the way leads onto another volume: name the file by its real path.
        const QString real = QFileInfo(clean).canonicalFilePath();
        if (const MountEntry *realMount = MountTable::containing(mounts, real, quint64(st->st_dev));
            realMount && realMount->device == quint64(st->st_dev)) {
            clean = real;
            mount = realMount;
        }
    }
    if (!mount)
        return {};
    Contents c;
    c.uuid = mount->uuid;
    c.device = mount->device;
    c.source = mount->source;
    c.mountPoint = mount->mountPoint;
    c.mountRoot = mount->root;
    c.relativePath = relativeTo(clean, mount->mountPoint);
    c.inode = quint64(st->st_ino);
    c.size = qint64(st->st_size);
    c.modified = modifiedOf(*st);
    return encode(c);
}

std::optional<Resolved> resolve(const QByteArray &bookmark)
{
    return resolve(bookmark, MountTable::current());
}

std::optional<Resolved> resolve(const QByteArray &bookmark, const QList<MountEntry> &mounts,
                                MoveSearch *search)
{
    // Most bookmarks of a large catalog name a card that is not in: its UUID alone tells, without the
    // whole decoding.
    if (const auto uuid = leadingUuid(bookmark);
        uuid && !uuid->isEmpty() && std::none_of(mounts.begin(), mounts.end(), [&](const MountEntry &m) {
            return m.fsType != QLatin1String("autofs") && m.uuid == *uuid;
        }))
        return std::nullopt;
    const auto c = decode(bookmark);
    if (!c)
        return std::nullopt;
    const QString madeFor = c->path();
    const QList<Candidate> places = candidates(*c, mounts);
    for (const Candidate &place : places) {
        const auto st = statOf(place.path);
        if (!isFile(st) || isInTrash(place.path))
            continue;
        // Without a UUID another volume may sit at the new place: there only the same file will do.
        if (place.strongIdentity || place.path == madeFor || sameFile(*st, *c))
            return Resolved{place.path, place.path != madeFor};
    }
    for (const Candidate &place : places) {
        const auto renamed = findRenamed(QFileInfo(place.path).path(), *c);
        if (renamed && !isInTrash(*renamed))
            return Resolved{*renamed, *renamed != madeFor};
    }
    if (!search)
        return std::nullopt;
    for (const Candidate &place : places) {
        const auto moved = search->find(place.path, place.mountPoint, place.device, *c);
        if (moved && !isInTrash(*moved))
            return Resolved{*moved, *moved != madeFor};
    }
    return std::nullopt;
}

std::optional<QString> MoveSearch::find(const QString &oldPath, const QString &mountPoint, quint64 device,
                                        const Contents &c)
{
    std::lock_guard lock(m_mutex);
    const auto isIt = [&](const QString &path) {
        struct stat st {};
        // The same device, inode, size and time: an inode freed and given to a new file is not it.
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && quint64(st.st_dev) == device &&
               sameFile(st, c) && (c.modified == 0 || modifiedOf(st) == c.modified);
    };
    // Near its old place first: its folder's tree, then the tree of each folder above, up to the volume's.
    QString folder = QFileInfo(oldPath).path();
    while (Paths::isInside(folder, mountPoint)) {
        const bool whole = walk(folder, device);
        for (auto it = m_byInode.constFind(c.inode); it != m_byInode.constEnd() && it.key() == c.inode; ++it)
            if (Paths::isInside(*it, folder) && *it != oldPath && isIt(*it))
                return *it;
        if (!whole || folder == mountPoint || folder == QLatin1String("/"))
            break;
        folder = QFileInfo(folder).path();
    }
    return std::nullopt;
}

bool MoveSearch::walk(const QString &top, quint64 device)
{
    QStringList queue{top};
    while (!queue.isEmpty()) {
        const QString path = queue.takeLast();
        if (m_walked.contains(path))
            continue; // read with a folder below which an earlier file was looked for
        if (const auto known = m_folders.constFind(path); known != m_folders.constEnd()) {
            for (const QString &name : *known)
                queue.append(join(path, name));
            continue;
        }
        if (m_left <= 0)
            return false;
        const QByteArray encoded = QFile::encodeName(path);
        DIR *dir = ::opendir(encoded.constData());
        QStringList folders;
        if (dir) {
            while (const dirent *item = ::readdir(dir)) {
                if (--m_left < 0)
                    break;
                const QByteArrayView name(item->d_name);
                if (name == "." || name == "..")
                    continue;
                unsigned char type = item->d_type;
                struct stat st {};
                const QByteArray child = encoded + (encoded.endsWith('/') ? "" : "/") + name.toByteArray();
                if (type == DT_UNKNOWN || type == DT_DIR) {
                    if (::lstat(child.constData(), &st) != 0)
                        continue;
                    type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
                }
                if (type == DT_DIR) {
                    // Another volume mounted inside is not this one; a Trash holds what was thrown away.
                    if (quint64(st.st_dev) == device && !isTrashName(name))
                        folders.append(QFile::decodeName(name.toByteArray()));
                } else if (type == DT_REG) {
                    m_byInode.insert(quint64(item->d_ino), QFile::decodeName(child));
                }
            }
            ::closedir(dir);
        }
        if (m_left < 0) {
            m_left = 0;
            return false; // a folder read in part is read again by no one: the budget is spent
        }
        for (const QString &name : std::as_const(folders))
            queue.append(join(path, name));
        m_folders.insert(path, std::move(folders));
    }
    m_walked.insert(top);
    return true;
}

bool isInTrash(const QString &path)
{
    for (QStringView component : QStringView(path).split(QLatin1Char('/')))
        if (component == QLatin1String(".Trash") || component.startsWith(QLatin1String(".Trash-")))
            return true;
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return !dataHome.isEmpty() && Paths::isInside(path, dataHome + QLatin1String("/Trash"));
}

} // namespace FileBookmark
