#include "platform/Folders.h"

#include <QFile>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace Folders {

int make(const QString &path)
{
    const std::filesystem::path folder(QFile::encodeName(path).toStdString());
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return error.value();
    std::error_code ignored;
    return std::filesystem::is_directory(folder, ignored) ? 0 : ENOTDIR;
}

} // namespace Folders
