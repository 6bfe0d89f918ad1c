#include "platform/StandardFolders.h"

#include <QDir>
#include <QStandardPaths>

namespace StandardFolders {

namespace {
QString under(QStandardPaths::StandardLocation location, const QString &relative)
{
    QString base = QStandardPaths::writableLocation(location);
    if (base.isEmpty())
        base = QDir::homePath();
    return QDir::cleanPath(base + QLatin1Char('/') + relative);
}
} // namespace

QString dataRoot()
{
    return under(QStandardPaths::GenericDataLocation, QStringLiteral("Roadloom"));
}

QString mediaCacheRoot()
{
    return under(QStandardPaths::GenericDataLocation, QStringLiteral("Roadloom/Media Cache"));
}

QString configBackups()
{
    return under(QStandardPaths::GenericDataLocation, QStringLiteral("Roadloom/Config Backups"));
}

QString converted()
{
    return under(QStandardPaths::GenericCacheLocation, QStringLiteral("Roadloom/Converted"));
}

QString mapTiles()
{
    return under(QStandardPaths::GenericCacheLocation, QStringLiteral("Roadloom/Map Tiles"));
}

QString snapshots()
{
    return under(QStandardPaths::PicturesLocation, QStringLiteral("Roadloom"));
}

} // namespace StandardFolders
