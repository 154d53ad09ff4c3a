#pragma once

#include "app/platform/notifications.h"

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>

#include <optional>

// Notifications through the desktop's org.freedesktop.Notifications service, every call
// asynchronous. The service's capabilities are asked once it first matters; the action
// "Показать в папке" is offered only where they include "actions".
class DesktopNotifications final : public QObject, public Notifications {
    Q_OBJECT
public:
    // `appIcon` is the icon name the desktop knows the program by (its desktop entry's).
    DesktopNotifications(QDBusConnection bus, QString appIcon, QObject *parent = nullptr);

    void notify(const QString &title, const QString &body,
                std::function<void()> showInFolder = {}) override;

private slots:
    // D-Bus signals reach a slot only by name.
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Notice {
        QString title;
        QString body;
        std::function<void()> showInFolder;
    };
    void askCapabilities();
    void send(const Notice &notice);

    QDBusConnection m_bus;
    QString m_appIcon;
    std::optional<QStringList> m_capabilities;
    bool m_asking = false;
    QList<Notice> m_waiting;                    // until the capabilities are known
    QHash<uint, std::function<void()>> m_shown; // notices on screen with an action
};
