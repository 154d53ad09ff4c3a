#pragma once

#include "app/platform/desktop_services.h"

#include <QObject>
#include <QString>

// The folder a side downloads into, as both screens show it: starts at the user's downloads
// folder, changed through the desktop's folder chooser, opened in the file manager. Not
// persisted. UI thread only.
class DestinationFolder : public QObject {
    Q_OBJECT
public:
    DestinationFolder(QString initialPath, DesktopServices &desktop, QObject *parent = nullptr);

    const QString &path() const { return m_path; }
    void setPath(const QString &path);
    // The chooser "Куда скачивать" with the button "Выбрать", opened at the current folder; a
    // confirmed choice becomes the folder. Returns at once.
    void choose();
    void open() const;

signals:
    void changed(const QString &path);

private:
    DesktopServices &m_desktop;
    QString m_path;
};
