#pragma once

#include "app/platform/preferences.h"

#include <QSettings>

// Preferences in QSettings' native store under the application identifier
// (on Linux a file in the user's configuration folder).
class SettingsPreferences final : public Preferences {
public:
    SettingsPreferences();
    // For tests: a store in a file of the caller's choosing.
    explicit SettingsPreferences(const QString &iniFilePath);

    std::optional<QVariant> value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    void remove(const QString &key) override;

private:
    mutable QSettings m_settings;
};
