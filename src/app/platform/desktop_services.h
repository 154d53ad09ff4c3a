#pragma once

#include <QString>

#include <functional>
#include <optional>

// What the program asks of the desktop: a folder chooser and the file manager.
// The real implementation lives with the widgets; the core only holds this interface.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    // Shows a folder chooser (folders only, one selection, new folders allowed) and calls
    // done with the chosen folder, or with nothing when the user cancels. Never blocks.
    virtual void chooseFolder(const QString &title, const QString &confirmText,
                              const QString &startFolder,
                              std::function<void(std::optional<QString>)> done) = 0;
    virtual void openFolder(const QString &path) = 0;
    // Shows the file manager with the file selected (its parent folder where that fails).
    virtual void showFileSelected(const QString &path) = 0;
};
