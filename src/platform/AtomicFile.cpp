#include "platform/AtomicFile.h"
#include "platform/FileIO.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

const QString marker = QStringLiteral(".roadloom-");
constexpr qsizetype randomLength = 6; // the XXXXXX of the template

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

Failure saveFailure(const QString &name, const QString &reason)
{
    return Failure{QStringLiteral("Couldn’t save “%1”: %2").arg(name, reason)};
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A descriptor of the leftover `name`, a regular file, for locking; one that is read-only for us opens for
// reading, one that is write-only for writing.
UniqueFd openLeftover(int folder, const char *name)
{
    for (const int mode : {O_RDONLY, O_WRONLY}) {
        UniqueFd fd(::openat(folder, name, mode | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (fd || errno != EACCES)
            return fd;
    }
    return {};
}

} // namespace

bool isTemporaryOf(const QString &name, const QString &fileName)
{
    if (name.size() != fileName.size() + marker.size() + randomLength || !name.startsWith(fileName) ||
        QStringView(name).sliced(fileName.size(), marker.size()) != marker)
        return false;
    const QStringView random = QStringView(name).last(randomLength);
    return std::all_of(random.begin(), random.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    });
}

void removeLeftovers(const QString &path)
{
    const QFileInfo info(path);
    const QString fileName = info.fileName();
    DIR *dir = ::opendir(QFile::encodeName(info.absolutePath()).constData());
    if (!dir)
        return;
    const int folder = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        if (!isTemporaryOf(QFile::decodeName(entry->d_name), fileName))
            continue;
        // A folder, a link or a device of that name is the user's: only a regular file is opened at all.
        struct stat named {
        }, opened{};
        if (::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode))
            continue;
        const UniqueFd fd = openLeftover(folder, entry->d_name);
        // A save in progress holds its file; where locks are not to be had, nobody can tell.
        if (!fd || ::fstat(fd.get(), &opened) != 0 || !sameFile(named, opened) ||
            ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(named, opened))
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(dir);
}

Save::Save(const QString &name, QByteArray temporary, QByteArray target, UniqueFd fd)
    : m_name(name), m_temporary(std::move(temporary)), m_target(std::move(target)), m_fd(std::move(fd))
{
}

Save::~Save()
{
    // Removed while still held, so no sweep meanwhile sees it free.
    if (m_fd)
        ::unlink(m_temporary.constData());
}

Failure Save::failure(int error) const
{
    return saveFailure(m_name, systemText(error));
}

QString Save::temporaryPath() const
{
    return QFile::decodeName(m_temporary);
}

Result<Save> Save::begin(const QString &path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const QString folder = info.absolutePath();
    const QByteArray target = QFile::encodeName(path);
    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    const mode_t mode = ::stat(target.constData(), &old) == 0 ? old.st_mode & 07777 : 0644;
    // Named by hand rather than left unnamed until the rename (where the file system could do that): cards
    // cannot, and the save behaves the same on every file system.
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    int lastError = EEXIST;
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString random(randomLength, Qt::Uninitialized);
        for (QChar &c : random)
            c = QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
        QByteArray temporary = QFile::encodeName(folder + QLatin1Char('/') + name + marker + random);
        UniqueFd fd(
            ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd && errno != EEXIST)
            return saveFailure(name, systemText(errno));
        if (!fd)
            continue;
        // Waits out a sweep that locked the new file before this save could; when locks are not to be had
        // here, sweeps leave every file alone.
        while (::flock(fd.get(), LOCK_EX) != 0 && errno == EINTR) {
        }
        // Such a sweep took the file away: another name, then.
        struct stat opened {
        }, named{};
        if (::fstat(fd.get(), &opened) != 0 || opened.st_nlink == 0 ||
            ::lstat(temporary.constData(), &named) != 0 || !sameFile(opened, named)) {
            lastError = ENOENT;
            continue;
        }
        ::fchmod(fd.get(), mode); // whatever the umask took away
        return Save(name, std::move(temporary), target, std::move(fd));
    }
    return saveFailure(name, systemText(lastError));
}

Result<void> Save::write(const QByteArray &bytes)
{
    if (!FileIO::writeFully(m_fd.get(), bytes.constData(), bytes.size()))
        return failure(errno);
    if (::fsync(m_fd.get()) != 0)
        return failure(errno);
    return {};
}

Result<void> Save::commit()
{
    // Renamed while held: until it has the target's name it is a save in progress.
    if (::rename(m_temporary.constData(), m_target.constData()) != 0)
        return failure(errno);
    // The bytes are on the disk already (fsync), so closing has nothing left to fail on.
    m_fd.reset();
    return {};
}

Result<void> write(const QString &path, const QByteArray &bytes)
{
    removeLeftovers(path);
    Result<Save> save = Save::begin(path);
    if (!save)
        return save.failure();
    if (Result<void> written = save->write(bytes); !written)
        return written;
    return save->commit();
}

} // namespace AtomicFile
