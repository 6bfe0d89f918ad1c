#include "platform/RegularFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

namespace RegularFile {

namespace {

QString nameOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

Failure openFailure(const QString &path, int error)
{
    return Failure{QStringLiteral("Couldn’t open “%1”: %2")
                       .arg(nameOf(path), QString::fromLocal8Bit(std::strerror(error)))};
}

} // namespace

QString notRegularText(const QString &path)
{
    return QStringLiteral("“%1” is not a regular file.").arg(nameOf(path));
}

bool isRegular(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

Opening openDescriptor(const QString &path)
{
    Opening opening;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (path.isEmpty() || ::stat(native.constData(), &st) != 0) {
        opening.error = path.isEmpty() ? ENOENT : errno;
        return opening;
    }
    // Most special files are turned away before they are opened at all; the test after the open catches
    // one that took the file's place in between.
    opening.special = !S_ISREG(st.st_mode);
    if (opening.special)
        return opening;
    UniqueFd fd(::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        opening.error = errno;
        return opening;
    }
    opening.special = !S_ISREG(st.st_mode);
    if (opening.special)
        return opening;
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    opening.fd = std::move(fd);
    return opening;
}

Result<UniqueFd> open(const QString &path)
{
    Opening opening = openDescriptor(path);
    if (opening.special)
        return Failure{notRegularText(path)};
    if (!opening.fd)
        return openFailure(path, opening.error);
    return std::move(opening.fd);
}

Result<std::unique_ptr<QFile>> openFile(const QString &path)
{
    Result<UniqueFd> fd = open(path);
    if (!fd)
        return fd.failure();
    auto file = std::make_unique<QFile>();
    if (!file->open(fd->get(), QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return Failure{QStringLiteral("Couldn’t open “%1”: %2").arg(nameOf(path), file->errorString())};
    fd->release();
    return file;
}

} // namespace RegularFile
