#include "app/destination_folder.h"

#include <QPointer>

DestinationFolder::DestinationFolder(QString initialPath, DesktopServices &desktop, QObject *parent)
    : QObject(parent), m_desktop(desktop), m_path(std::move(initialPath))
{
}

void DestinationFolder::setPath(const QString &path)
{
    if (path == m_path)
        return;
    m_path = path;
    emit changed(m_path);
}

void DestinationFolder::choose()
{
    QPointer<DestinationFolder> self(this);
    m_desktop.chooseFolder(QStringLiteral("Куда скачивать"), QStringLiteral("Выбрать"), m_path,
                           [self](std::optional<QString> folder) {
                               if (self && folder)
                                   self->setPath(*folder);
                           });
}

void DestinationFolder::open() const
{
    m_desktop.openFolder(m_path);
}
