#pragma once

#include <QString>
#include <QStringList>

// A camera card is told by the names at its top level: the folders (or files) a dash camera writes there.
namespace CameraCard {

// The names, compared whole and without regard to case.
const QStringList &markerNames();
// Whether a listing of a volume's top level holds one of the marker names.
bool hasMarker(const QStringList &topLevelNames);
// Lists the folder's top level; an unreadable folder holds nothing.
bool isCard(const QString &rootPath);

} // namespace CameraCard
