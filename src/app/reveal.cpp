#include "app/reveal.h"

#include <QDir>
#include <QFileInfo>

void revealPath(const QString &path, DesktopServices &desktop)
{
    if (path.isEmpty())
        return;
    const QFileInfo info(path);
    if (info.isDir()) {
        desktop.openFolder(info.absoluteFilePath());
        return;
    }
    if (info.exists()) {
        desktop.showFileSelected(info.absoluteFilePath());
        return;
    }
    const QFileInfo parent(info.absolutePath());
    if (parent.isDir())
        desktop.openFolder(parent.absoluteFilePath());
}
