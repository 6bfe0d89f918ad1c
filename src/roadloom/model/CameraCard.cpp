#include "roadloom/model/CameraCard.h"

#include <QDir>
#include <QSet>

namespace CameraCard {

const QStringList &markerNames()
{
    static const QStringList names{QStringLiteral("SETTING"),
                                   QStringLiteral("cont_rec"),
                                   QStringLiteral("evt_rec"),
                                   QStringLiteral("manual_rec"),
                                   QStringLiteral("parking_rec"),
                                   QStringLiteral("motion_rec"),
                                   QStringLiteral("motion_timelapse_rec"),
                                   QStringLiteral("DCIM"),
                                   QStringLiteral("BlackBox"),
                                   QStringLiteral("Normal"),
                                   QStringLiteral("Event"),
                                   QStringLiteral("Parking"),
                                   QStringLiteral("Manual")};
    return names;
}

bool hasMarker(const QStringList &topLevelNames)
{
    static const QSet<QString> lowered = [] {
        QSet<QString> set;
        for (const QString &name : markerNames())
            set.insert(name.toLower());
        return set;
    }();
    for (const QString &name : topLevelNames)
        if (lowered.contains(name.toLower()))
            return true;
    return false;
}

bool isCard(const QString &rootPath)
{
    return hasMarker(QDir(rootPath).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted));
}

} // namespace CameraCard
