#include "ui/single_instance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace {

const QString kObjectPath = QStringLiteral("/local/tovrin/mac");
const QString kInterface = QStringLiteral("local.tovrin.mac.Application");
constexpr int kActivateTimeoutMs = 3000;

} // namespace

SingleInstance::SingleInstance(const QString &serviceName, QObject *parent)
    : QObject(parent), m_service(serviceName)
{
}

SingleInstance::~SingleInstance()
{
    if (m_owns) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(kObjectPath);
        bus.unregisterService(m_service);
    }
}

bool SingleInstance::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (bus.registerService(m_service)) {
        bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots);
        m_owns = true;
        return true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, kObjectPath, kInterface,
                                                       QStringLiteral("Activate"));
    // A desktop that starts us with an activation token hands it on, so the running window
    // may take the focus.
    call << qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    const QDBusMessage reply = bus.call(call, QDBus::Block, kActivateTimeoutMs);
    m_handedOver = reply.type() == QDBusMessage::ReplyMessage;
    return false;
}

void SingleInstance::Activate(const QString &activationToken)
{
    emit activationRequested(activationToken);
}
