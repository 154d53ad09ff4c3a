#pragma once

#include "app/platform/desktop_services.h"

class QWidget;

// The desktop as the running program meets it: QFileDialog, the file manager through
// org.freedesktop.FileManager1, and QDesktopServices.
class SystemDesktopServices final : public DesktopServices {
public:
    // The folder chooser is shown over `window` (may be null).
    explicit SystemDesktopServices(QWidget *window = nullptr) : m_window(window) {}
    void setWindow(QWidget *window) { m_window = window; }

    void chooseFolder(const QString &title, const QString &confirmText, const QString &startFolder,
                      std::function<void(std::optional<QString>)> done) override;
    void openFolder(const QString &path) override;
    void showFileSelected(const QString &path) override;

private:
    QWidget *m_window;
};
