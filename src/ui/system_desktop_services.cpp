#include "ui/system_desktop_services.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace {

// Starting the file manager can take a moment; past this the parent folder is opened instead.
constexpr int kShowItemsTimeoutMs = 3000;

} // namespace

void SystemDesktopServices::chooseFolder(const QString &title, const QString &confirmText,
                                         const QString &startFolder,
                                         std::function<void(std::optional<QString>)> done)
{
    auto *dialog = new QFileDialog(m_window, title, startFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, confirmText);
    dialog->setWindowModality(Qt::WindowModal);
    auto answered = std::make_shared<bool>(false);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                     [done, answered](const QString &folder) {
                         *answered = true;
                         done(folder);
                     });
    QObject::connect(dialog, &QFileDialog::finished, dialog, [done, answered](int) {
        if (!*answered)
            done(std::nullopt);
    });
    dialog->open();
}

void SystemDesktopServices::openFolder(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

// The file manager is asked over D-Bus without waiting on it; when nobody answers in time
// or the call fails, the parent folder opens instead.
void SystemDesktopServices::showFileSelected(const QString &path)
{
    const QString parent = QFileInfo(path).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(parent);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kShowItemsTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [parent](QDBusPendingCallWatcher *w) {
                         if (w->isError())
                             QDesktopServices::openUrl(QUrl::fromLocalFile(parent));
                         w->deleteLater();
                     });
}
