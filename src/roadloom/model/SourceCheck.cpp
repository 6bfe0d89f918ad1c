#include "roadloom/model/SourceCheck.h"

#include "roadcore/ConfigSchema.h"
#include "roadloom/model/CameraCard.h"

#include <QFileInfo>

namespace SourceCheck {

namespace {

// The folders above the path that are there, below the root: renaming, removing or unmounting the folder
// or any of them changes one. (A watch follows a renamed folder, so the parent alone misses a renamed
// grandparent.)
QStringList watchedPlaces(const QString &path)
{
    QStringList places;
    for (QString place = QFileInfo(path).absolutePath();;) {
        const QString up = QFileInfo(place).absolutePath();
        if (up == place)
            break; // the root changes only by a mount, which the volume watch reports
        if (QFileInfo(place).isDir())
            places.append(place);
        place = up;
    }
    return places;
}

} // namespace

Folder folder(const QString &path)
{
    Folder answer;
    // exists() follows symbolic links; a dangling link counts as nothing there.
    answer.there = QFileInfo::exists(path);
    answer.watchedPlaces = watchedPlaces(path);
    if (answer.there)
        answer.configURL = ConfigSchema::configURL(path);
    return answer;
}

Card card(const QString &root)
{
    Card answer;
    answer.isCard = CameraCard::isCard(root);
    answer.configURL = ConfigSchema::configURL(root);
    return answer;
}

} // namespace SourceCheck
