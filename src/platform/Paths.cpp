#include "platform/Paths.h"

namespace Paths {

namespace {
QStringView withoutTrailingSlashes(QStringView folder)
{
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}
} // namespace

bool isBelow(QStringView path, QStringView folder)
{
    folder = withoutTrailingSlashes(folder);
    if (folder.isEmpty())
        return false;
    if (folder == QLatin1String("/"))
        return path.size() > 1 && path.startsWith(QLatin1Char('/'));
    return path.size() > folder.size() + 1 && path.startsWith(folder) &&
           path[folder.size()] == QLatin1Char('/');
}

bool isInside(QStringView path, QStringView folder)
{
    return isBelow(path, folder) ||
           (!folder.isEmpty() && withoutTrailingSlashes(path) == withoutTrailingSlashes(folder));
}

bool hasComponent(QStringView path, QStringView name)
{
    qsizetype start = 0;
    while (start <= path.size()) {
        qsizetype end = path.indexOf(QLatin1Char('/'), start);
        if (end < 0)
            end = path.size();
        if (path.sliced(start, end - start) == name)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace Paths
