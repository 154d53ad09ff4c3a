#pragma once

#include "app/platform/preferences.h"

#include <QHash>

// Preferences held in memory; counts writes so tests can tell whether a load rewrote anything.
class FakePreferences final : public Preferences {
public:
    std::optional<QVariant> value(const QString &key) const override
    {
        return m_values.contains(key) ? std::optional(m_values.value(key)) : std::nullopt;
    }
    void setValue(const QString &key, const QVariant &value) override
    {
        m_values.insert(key, value);
        ++writes;
    }
    void remove(const QString &key) override
    {
        m_values.remove(key);
        ++writes;
    }
    bool contains(const QString &key) const { return m_values.contains(key); }

    int writes = 0;

private:
    QHash<QString, QVariant> m_values;
};
