#pragma once

#include "app/platform/desktop_services.h"

#include <QStringList>

// Records what the program asked of the desktop; the folder chooser answers with `chosen`.
class FakeDesktopServices final : public DesktopServices {
public:
    void chooseFolder(const QString &title, const QString &confirmText, const QString &startFolder,
                      std::function<void(std::optional<QString>)> done) override
    {
        chooserCalls.append(QStringList{title, confirmText, startFolder});
        done(chosen);
    }
    void openFolder(const QString &path) override { opened.append(path); }
    void showFileSelected(const QString &path) override { selected.append(path); }

    std::optional<QString> chosen;
    QList<QStringList> chooserCalls;
    QStringList opened;
    QStringList selected;
};
