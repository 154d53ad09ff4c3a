#pragma once

#include "ui/theme.h"

#include <QDBusConnection>
#include <QObject>

class QDBusVariant;

// The desktop's light or dark preference, from the XDG desktop portal's setting
// org.freedesktop.appearance color-scheme: read at start, then followed through the portal's
// SettingChanged signal. Where no portal answers, the preference is light.
class ColorSchemePortal final : public QObject {
    Q_OBJECT
public:
    explicit ColorSchemePortal(QDBusConnection bus, QObject *parent = nullptr);

    // Asks the portal once, without waiting; settled() follows either way.
    void read();
    Theme::Scheme scheme() const { return m_scheme; }

signals:
    void schemeChanged(Theme::Scheme scheme);
    // The first read has an answer, or none will come.
    void settled();

private slots:
    // D-Bus signals reach a slot only by name.
    void onSettingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    // `olderMethod`: the portals before ReadOne (Debian 12's among them) only have Read.
    void ask(bool olderMethod);
    void take(const QVariant &value);

    QDBusConnection m_bus;
    Theme::Scheme m_scheme = Theme::Scheme::Light;
};
