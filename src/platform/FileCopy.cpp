#include "platform/FileCopy.h"
#include "platform/FileIO.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileCopy {

namespace {

// Large enough for the disk's full speed, small enough that a stop is seen within a few dozen milliseconds.
constexpr qint64 kernelBlock = 8 << 20;
constexpr qint64 bufferBlock = 1 << 20;

// The kernel cannot copy between these files (another file system, an old kernel): read and write instead.
bool kernelCopyUnsupported(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF ||
           error == ETXTBSY;
}

} // namespace

Outcome copy(int from, int to, const std::function<bool()> &proceed)
{
    Outcome outcome;
    if (!proceed()) {
        outcome.stopped = true;
        return outcome;
    }
    struct stat source {};
    if (::fstat(from, &source) != 0) {
        outcome.error = errno;
        return outcome;
    }
    if (::ioctl(to, FICLONE, from) == 0) {
        struct stat cloned {};
        if (::fstat(to, &cloned) != 0)
            outcome.error = errno;
        outcome.bytes = cloned.st_size;
        return outcome;
    }

    loff_t in = 0, out = 0;
    bool kernel = true;
    while (kernel) {
        if (!proceed()) {
            outcome.stopped = true;
            return outcome;
        }
        const ssize_t n = ::copy_file_range(from, &in, to, &out, size_t(kernelBlock), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && !kernelCopyUnsupported(errno)) {
            outcome.error = errno;
            return outcome;
        }
        if (n > 0) {
            outcome.bytes += n;
            continue;
        }
        // Some file systems answer 0 before the end; the reads below find the true end.
        if (n == 0 && in >= source.st_size)
            return outcome;
        kernel = false;
    }

    ::posix_fadvise(from, 0, 0, POSIX_FADV_SEQUENTIAL);
    QByteArray buffer(bufferBlock, Qt::Uninitialized);
    for (qint64 offset = in;;) {
        if (!proceed()) {
            outcome.stopped = true;
            return outcome;
        }
        errno = 0;
        const qint64 n = FileIO::readAt(from, buffer.data(), bufferBlock, offset);
        if (n < 0 || (n > 0 && !FileIO::writeFully(to, buffer.constData(), n, offset))) {
            outcome.error = errno ? errno : EIO;
            return outcome;
        }
        if (n == 0)
            return outcome;
        outcome.bytes += n;
        offset += n;
    }
}

Comparison compare(int a, int b, const std::function<bool()> &proceed)
{
    struct stat sa {
    }, sb{};
    if (::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0)
        return Comparison::failed;
    if (sa.st_size != sb.st_size)
        return Comparison::different;
    ::posix_fadvise(a, 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(b, 0, 0, POSIX_FADV_SEQUENTIAL);
    QByteArray first(bufferBlock, Qt::Uninitialized), second(bufferBlock, Qt::Uninitialized);
    for (qint64 offset = 0;;) {
        if (!proceed())
            return Comparison::stopped;
        const qint64 na = FileIO::readAt(a, first.data(), bufferBlock, offset);
        const qint64 nb = FileIO::readAt(b, second.data(), bufferBlock, offset);
        if (na < 0 || nb < 0)
            return Comparison::failed;
        if (na != nb || std::memcmp(first.constData(), second.constData(), size_t(na)) != 0)
            return Comparison::different;
        if (na == 0)
            return Comparison::equal;
        offset += na;
    }
}

} // namespace FileCopy
