#include "video/json_fields.h"

#include <QJsonValue>

#include <cmath>

namespace {

bool wrongType(const char *key, QString *error)
{
    if (error)
        *error = QStringLiteral("неверный тип значения «%1»").arg(QLatin1StringView(key));
    return false;
}

} // namespace

namespace JsonFields {

bool readString(const QJsonObject &object, const char *key, std::optional<QString> &out,
                QString *error)
{
    const QJsonValue value = object.value(QLatin1StringView(key));
    out.reset();
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return wrongType(key, error);
    out = value.toString();
    return true;
}

bool readInteger(const QJsonObject &object, const char *key, std::optional<qint64> &out,
                 QString *error)
{
    const QJsonValue value = object.value(QLatin1StringView(key));
    out.reset();
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isDouble())
        return wrongType(key, error);
    const double number = value.toDouble();
    // QJsonValue keeps integers that fit in 53 bits exactly; larger ones are doubles anyway.
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > 9.2e18)
        return wrongType(key, error);
    out = value.toInteger(qint64(number));
    return true;
}

bool readDouble(const QJsonObject &object, const char *key, std::optional<double> &out,
                QString *error)
{
    const QJsonValue value = object.value(QLatin1StringView(key));
    out.reset();
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isDouble())
        return wrongType(key, error);
    out = value.toDouble();
    return true;
}

} // namespace JsonFields
