#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// The per-user key-value store. One real implementation (QSettings); tests use an in-memory one.
// Typed reads with "wrong type reads as absent" live in preference_values.h.
class Preferences {
public:
    virtual ~Preferences() = default;
    virtual std::optional<QVariant> value(const QString &key) const = 0;
    // Stores the value and makes it durable before returning.
    virtual void setValue(const QString &key, const QVariant &value) = 0;
    virtual void remove(const QString &key) = 0;
};
