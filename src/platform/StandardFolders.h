#pragma once

#include <QString>

// The program's folders under the freedesktop base directories. None is created here.
namespace StandardFolders {

QString dataRoot();       // ~/.local/share/Roadloom
QString mediaCacheRoot(); // ~/.local/share/Roadloom/Media Cache
QString configBackups();  // ~/.local/share/Roadloom/Config Backups
QString converted();      // ~/.cache/Roadloom/Converted
QString mapTiles();       // ~/.cache/Roadloom/Map Tiles
QString snapshots();      // the pictures folder plus "Roadloom"

} // namespace StandardFolders
