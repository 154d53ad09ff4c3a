#include "app/platform/preference_values.h"

std::optional<qint64> readInteger(const Preferences &prefs, const QString &key)
{
    const auto v = prefs.value(key);
    if (!v)
        return std::nullopt;
    switch (v->typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::Long:
        return v->toLongLong();
    case QMetaType::ULongLong: {
        bool ok = false;
        const qint64 n = v->toLongLong(&ok);
        return ok ? std::optional<qint64>(n) : std::nullopt;
    }
    case QMetaType::QString: {
        // The INI store keeps numbers as text; a text that is exactly an integer counts.
        bool ok = false;
        const qint64 n = v->toString().toLongLong(&ok);
        return ok ? std::optional<qint64>(n) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> readString(const Preferences &prefs, const QString &key)
{
    const auto v = prefs.value(key);
    if (!v || v->typeId() != QMetaType::QString)
        return std::nullopt;
    return v->toString();
}

std::optional<QByteArray> readData(const Preferences &prefs, const QString &key)
{
    const auto v = prefs.value(key);
    if (!v || v->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return v->toByteArray();
}

std::optional<QDateTime> readDate(const Preferences &prefs, const QString &key)
{
    const auto v = prefs.value(key);
    if (!v || v->typeId() != QMetaType::QDateTime)
        return std::nullopt;
    const QDateTime d = v->toDateTime();
    if (!d.isValid())
        return std::nullopt;
    return d;
}
