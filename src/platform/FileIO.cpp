#include "platform/FileIO.h"

#include <cerrno>

#include <unistd.h>

namespace FileIO {

qint64 readAt(int fd, char *buffer, qint64 length, qint64 offset)
{
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, buffer + done, size_t(length - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool writeFully(int fd, const char *buffer, qint64 length, std::optional<qint64> offset)
{
    qint64 done = 0;
    while (done < length) {
        const size_t left = size_t(length - done);
        const ssize_t n = offset ? ::pwrite(fd, buffer + done, left, off_t(*offset + done))
                                 : ::write(fd, buffer + done, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC; // no progress: the device takes no more
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace FileIO
