#pragma once

#include <QDBusConnection>
#include <QObject>

// Keeps one running copy per user session: the first start owns the session-bus name of the
// application; a later start asks it to bring its window forward and then ends. Without a
// session bus every start runs on its own.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "local.tovrin.mac.Application")
public:
    SingleInstance(const QString &serviceName, QDBusConnection bus, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process now owns the name; false when another copy runs (it has been
    // asked to come forward, with the desktop's activation token when there is one) or when
    // there is no bus.
    bool claim(const QString &activationToken = QString());
    bool ownsName() const { return m_owns; }
    // Whether a copy was found running and handed the activation.
    bool handedOver() const { return m_handedOver; }

public slots:
    // Called over the bus by a second start.
    Q_SCRIPTABLE void Activate(const QString &activationToken);

signals:
    void activationRequested(const QString &activationToken);

private:
    QString m_service;
    QDBusConnection m_bus;
    bool m_owns = false;
    bool m_handedOver = false;
};
