#include "ui/single_instance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace {

const QString kObjectPath = QStringLiteral("/local/tovrin/mac");
const QString kInterface = QStringLiteral("local.tovrin.mac.Application");
constexpr int kActivateTimeoutMs = 3000;

} // namespace

SingleInstance::SingleInstance(const QString &serviceName, QDBusConnection bus, QObject *parent)
    : QObject(parent), m_service(serviceName), m_bus(std::move(bus))
{
}

SingleInstance::~SingleInstance()
{
    if (m_owns) {
        m_bus.unregisterObject(kObjectPath);
        m_bus.unregisterService(m_service);
    }
}

bool SingleInstance::claim(const QString &activationToken)
{
    if (!m_bus.isConnected())
        return false;
    if (m_bus.registerService(m_service)) {
        m_bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots);
        m_owns = true;
        return true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, kObjectPath, kInterface,
                                                       QStringLiteral("Activate"));
    // The running window may take the focus only with the token the desktop gave this start.
    call << activationToken;
    // Events keep flowing while the running copy answers (it may be this very process when
    // two connections share it).
    const QDBusMessage reply = m_bus.call(call, QDBus::BlockWithGui, kActivateTimeoutMs);
    m_handedOver = reply.type() == QDBusMessage::ReplyMessage;
    return false;
}

void SingleInstance::Activate(const QString &activationToken)
{
    emit activationRequested(activationToken);
}
