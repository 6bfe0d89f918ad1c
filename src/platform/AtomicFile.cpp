#include "platform/AtomicFile.h"

#include "platform/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
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

// Only regular files of our own pattern go; a folder or a link of that name is the user's.
void removeLeftovers(const QString &folder, const QString &fileName)
{
    const QByteArray native = QFile::encodeName(folder);
    DIR *dir = ::opendir(native.constData());
    if (!dir)
        return;
    const int fd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (!isTemporaryOf(name, fileName))
            continue;
        struct stat st {};
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(dir);
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

Result<void> write(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const QString folder = info.absolutePath();
    removeLeftovers(folder, name);

    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    const mode_t mode = ::stat(QFile::encodeName(path).constData(), &old) == 0 ? old.st_mode & 07777 : 0644;
    // Named by hand rather than left unnamed until the rename (where the file system could do that): cards
    // cannot, and the save behaves the same on every file system.
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray temporary;
    UniqueFd fd;
    for (int attempt = 0; !fd && attempt < 100; ++attempt) {
        QString random(randomLength, Qt::Uninitialized);
        for (QChar &c : random)
            c = QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
        temporary = QFile::encodeName(folder + QLatin1Char('/') + name + marker + random);
        fd.reset(::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd && errno != EEXIST)
            return saveFailure(name, systemText(errno));
    }
    if (!fd)
        return saveFailure(name, systemText(EEXIST));
    ::fchmod(fd.get(), mode); // whatever the umask took away
    const auto failed = [&](int error) {
        fd.reset();
        ::unlink(temporary.constData());
        return saveFailure(name, systemText(error));
    };
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd.get(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failed(n < 0 ? errno : EIO);
        done += n;
    }
    if (::fsync(fd.get()) != 0)
        return failed(errno);
    if (::close(fd.release()) != 0)
        return failed(errno);
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        return failed(errno);
    return {};
}

} // namespace AtomicFile
