#include "app/platform/system_locations.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

// DownloadLocation names ~/Downloads even when no such folder exists, so check the disk.
QString SystemLocations::downloads() const
{
    const QString path = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!path.isEmpty() && QFileInfo(path).isDir())
        return path;
    return home();
}

QString SystemLocations::home() const
{
    return QDir::homePath();
}

QString SystemLocations::temp() const
{
    return QDir::tempPath();
}

QString SystemLocations::applicationSupport() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}
