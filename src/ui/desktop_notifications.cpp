#include "ui/desktop_notifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <algorithm>
#include <utility>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kShowInFolder = QStringLiteral("show-in-folder");
// A notification service that has not answered by then is taken to be absent.
constexpr int kCallTimeoutMs = 5000;

} // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QString appIcon, QObject *parent)
    : QObject(parent), m_bus(std::move(bus)), m_appIcon(std::move(appIcon))
{
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
}

void DesktopNotifications::notify(const QString &title, const QString &body,
                                  std::function<void()> showInFolder)
{
    if (!m_bus.isConnected())
        return;
    Notice notice{title, body, std::move(showInFolder)};
    if (m_capabilities) {
        send(notice);
        return;
    }
    m_waiting.append(std::move(notice));
    askCapabilities();
}

void DesktopNotifications::askCapabilities()
{
    if (m_asking)
        return;
    m_asking = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                             QStringLiteral("GetCapabilities"));
    const qsizetype askedFor = m_waiting.size();
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, askedFor](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                m_asking = false;
                const QDBusPendingReply<QStringList> reply = *w;
                if (reply.isError()) {
                    // Nobody answered: the notices this question was for are dropped. Those
                    // that came while it was under way ask again, since a service may have
                    // started meanwhile.
                    m_waiting.remove(0, std::min(askedFor, m_waiting.size()));
                    if (!m_waiting.isEmpty())
                        askCapabilities();
                    return;
                }
                m_capabilities = reply.value();
                for (const Notice &notice : std::exchange(m_waiting, {}))
                    send(notice);
            });
}

void DesktopNotifications::send(const Notice &notice)
{
    QStringList actions;
    if (notice.showInFolder && m_capabilities->contains(QStringLiteral("actions")))
        actions = {kShowInFolder, QStringLiteral("Показать в папке")};
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), m_appIcon);
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("Tovrin") << uint(0) << m_appIcon << notice.title << notice.body
         << actions << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    const std::function<void()> action = actions.isEmpty() ? nullptr : notice.showInFolder;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, action](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (!reply.isError() && action)
                    m_shown.insert(reply.value(), action);
            });
}

void DesktopNotifications::onActionInvoked(uint id, const QString &actionKey)
{
    if (actionKey != kShowInFolder)
        return;
    if (const auto action = m_shown.take(id))
        action();
}

void DesktopNotifications::onNotificationClosed(uint id, uint)
{
    m_shown.remove(id);
}
