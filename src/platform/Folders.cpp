#include "platform/Folders.h"

#include <QFile>

#include <cerrno>

#include <sys/stat.h>

namespace Folders {

int make(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    // From the top down: an existing folder answers EEXIST even where it could not be made.
    for (qsizetype slash = native.indexOf('/', 1);; slash = native.indexOf('/', slash + 1)) {
        const QByteArray folder = slash < 0 ? native : native.left(slash);
        if (!folder.isEmpty() && ::mkdir(folder.constData(), 0777) != 0 && errno != EEXIST)
            return errno;
        if (slash < 0)
            break;
    }
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

} // namespace Folders
