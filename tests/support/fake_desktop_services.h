#pragma once

#include "app/platform/desktop_services.h"

#include <QStringList>

// Records what the program asked of the desktop; the folder chooser is always cancelled.
class FakeDesktopServices final : public DesktopServices {
public:
    void chooseFolder(const QString &, const QString &, const QString &,
                      std::function<void(std::optional<QString>)> done) override
    {
        done(std::nullopt);
    }
    void openFolder(const QString &path) override { opened.append(path); }
    void showFileSelected(const QString &path) override { selected.append(path); }

    QStringList opened;
    QStringList selected;
};
