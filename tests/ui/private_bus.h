#pragma once

#include <QDBusConnection>
#include <QProcess>

// A private session bus for a test, so that desktop services run over a real bus without
// touching the desktop's.
struct PrivateBus {
    QProcess daemon;
    QString address;

    PrivateBus()
    {
        daemon.start(QStringLiteral("dbus-daemon"),
                     {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        if (daemon.waitForStarted(5000) && daemon.waitForReadyRead(5000))
            address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        daemon.kill();
        daemon.waitForFinished(5000);
    }
    QDBusConnection connect(const QString &name) const
    {
        return QDBusConnection::connectToBus(address, name);
    }
};
