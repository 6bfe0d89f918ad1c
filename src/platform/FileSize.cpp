#include "platform/FileSize.h"

#include <QFile>

#include <sys/stat.h>

std::optional<qint64> regularFileSize(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return qint64(st.st_size);
}
