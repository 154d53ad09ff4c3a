#include "app/platform/settings_preferences.h"

#include "app/platform/preference_keys.h"

SettingsPreferences::SettingsPreferences()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, QString(kApplicationId))
{
}

SettingsPreferences::SettingsPreferences(const QString &iniFilePath)
    : m_settings(iniFilePath, QSettings::IniFormat)
{
}

std::optional<QVariant> SettingsPreferences::value(const QString &key) const
{
    const QVariant v = m_settings.value(key);
    if (!v.isValid())
        return std::nullopt;
    return v;
}

// QSettings writes lazily; sync() makes a saved history durable when the call returns.
void SettingsPreferences::setValue(const QString &key, const QVariant &value)
{
    m_settings.setValue(key, value);
    m_settings.sync();
}

void SettingsPreferences::remove(const QString &key)
{
    m_settings.remove(key);
    m_settings.sync();
}
