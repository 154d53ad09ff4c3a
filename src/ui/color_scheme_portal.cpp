#include "ui/color_scheme_portal.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGroup = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");
// Starting the portal service on first use can take a moment.
constexpr int kReadTimeoutMs = 2000;
constexpr uint kPrefersDark = 1;

// Read wraps the value in one more variant than ReadOne; unwrap whatever there is.
QVariant unwrapped(QVariant value)
{
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        QDBusVariant inner;
        qvariant_cast<QDBusArgument>(value) >> inner;
        return unwrapped(inner.variant());
    }
    return value;
}

} // namespace

ColorSchemePortal::ColorSchemePortal(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus))
{
    // The slot's argument type must be known by name before the bus can match it.
    qRegisterMetaType<QDBusVariant>();
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                  SLOT(onSettingChanged(QString, QString, QDBusVariant)));
}

void ColorSchemePortal::read()
{
    if (!m_bus.isConnected()) {
        emit settled();
        return;
    }
    ask(false);
}

void ColorSchemePortal::ask(bool olderMethod)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       olderMethod ? QStringLiteral("Read")
                                                                   : QStringLiteral("ReadOne"));
    call << kGroup << kKey;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kReadTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, olderMethod](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusMessage reply = w->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                    take(reply.arguments().constFirst());
                } else if (!olderMethod
                           && reply.errorName()
                                  == QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")) {
                    ask(true);
                    return;
                }
                emit settled();
            });
}

void ColorSchemePortal::onSettingChanged(const QString &group, const QString &key,
                                         const QDBusVariant &value)
{
    if (group == kGroup && key == kKey)
        take(value.variant());
}

void ColorSchemePortal::take(const QVariant &value)
{
    // 0 is no preference and 2 prefers light: both are the light form.
    const QVariant plain = unwrapped(value);
    const Theme::Scheme scheme =
        plain.toUInt() == kPrefersDark ? Theme::Scheme::Dark : Theme::Scheme::Light;
    if (scheme == m_scheme)
        return;
    m_scheme = scheme;
    emit schemeChanged(scheme);
}
