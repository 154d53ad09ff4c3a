#include "video/json_fields.h"

#include <QJsonValue>

#include <cmath>

namespace {

// One reader for every key: absent and null read as "absent"; `convert` yields nothing for a
// value of the wrong type, which fails the document and names the key.
template <typename T, typename Convert>
bool readField(const QJsonObject &object, const char *key, std::optional<T> &out, QString *error,
               Convert convert)
{
    const QJsonValue value = object.value(QLatin1StringView(key));
    out.reset();
    if (value.isUndefined() || value.isNull())
        return true;
    out = convert(value);
    if (!out && error)
        *error = QStringLiteral("неверный тип значения «%1»").arg(QLatin1StringView(key));
    return out.has_value();
}

} // namespace

namespace JsonFields {

bool readString(const QJsonObject &object, const char *key, std::optional<QString> &out,
                QString *error)
{
    return readField(object, key, out, error, [](const QJsonValue &value) {
        return value.isString() ? std::optional(value.toString()) : std::nullopt;
    });
}

bool readInteger(const QJsonObject &object, const char *key, std::optional<qint64> &out,
                 QString *error)
{
    return readField(object, key, out, error, [](const QJsonValue &value) {
        const double number = value.toDouble();
        // QJsonValue keeps integers that fit in 53 bits exactly; larger ones are doubles anyway.
        if (!value.isDouble() || !std::isfinite(number) || std::trunc(number) != number
            || std::fabs(number) > 9.2e18)
            return std::optional<qint64>();
        return std::optional(value.toInteger(qint64(number)));
    });
}

bool readDouble(const QJsonObject &object, const char *key, std::optional<double> &out,
                QString *error)
{
    return readField(object, key, out, error, [](const QJsonValue &value) {
        return value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
    });
}

} // namespace JsonFields
