#include "yandex/api_records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

std::optional<QJsonObject> objectOf(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// A field read as the service's integer: a JSON number without a fraction that fits 64 bits.
std::optional<qint64> integerOf(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) >= 9.2e18)
        return std::nullopt;
    return qint64(d);
}

// Reads a required text field; false when it is missing or not text.
bool requiredText(const QJsonObject &object, QLatin1StringView key, QString &out)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

// Reads an optional text field; false only when it is present with another type.
bool optionalText(const QJsonObject &object, QLatin1StringView key, std::optional<QString> &out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

// An optional text field as plain text, empty when absent.
bool optionalText(const QJsonObject &object, QLatin1StringView key, QString &out)
{
    std::optional<QString> text;
    if (!optionalText(object, key, text))
        return false;
    out = text.value_or(QString());
    return true;
}

bool optionalInteger(const QJsonObject &object, QLatin1StringView key, std::optional<qint64> &out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    out = integerOf(value);
    return out.has_value();
}

std::optional<PublicItem> decodeItem(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    PublicItem item;
    if (!requiredText(object, QLatin1StringView("type"), item.type)
        || !requiredText(object, QLatin1StringView("name"), item.name)
        || !requiredText(object, QLatin1StringView("path"), item.path)
        || !optionalInteger(object, QLatin1StringView("size"), item.size))
        return std::nullopt;
    std::optional<QString> link, sha256, md5;
    if (!optionalText(object, QLatin1StringView("file"), link)
        || !optionalText(object, QLatin1StringView("sha256"), sha256)
        || !optionalText(object, QLatin1StringView("md5"), md5))
        return std::nullopt;
    // A link that is no URL is only a missed shortcut: the file's link is then asked for.
    if (link) {
        const QUrl url(*link, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty())
            item.downloadLink = url;
    }
    item.sha256 = sha256.value_or(QString()).toLower();
    item.md5 = md5.value_or(QString()).toLower();
    return item;
}

std::optional<EmbeddedResource> decodeEmbedded(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue items = object.value(QLatin1StringView("items"));
    const std::optional<qint64> total = integerOf(object.value(QLatin1StringView("total")));
    if (!items.isArray() || !total)
        return std::nullopt;
    EmbeddedResource embedded;
    embedded.total = *total;
    const QJsonArray array = items.toArray();
    embedded.items.reserve(array.size());
    for (const QJsonValue &entry : array) {
        std::optional<PublicItem> item = decodeItem(entry);
        if (!item)
            return std::nullopt;
        embedded.items.append(std::move(*item));
    }
    return embedded;
}

} // namespace

std::optional<QString> YandexErrorResponse::firstText() const
{
    if (message)
        return message;
    if (description)
        return description;
    return error;
}

std::optional<PublicResource> decodePublicResource(const QByteArray &json)
{
    const std::optional<QJsonObject> object = objectOf(json);
    if (!object)
        return std::nullopt;
    PublicResource resource;
    if (!requiredText(*object, QLatin1StringView("type"), resource.type)
        || !requiredText(*object, QLatin1StringView("name"), resource.name)
        || !optionalInteger(*object, QLatin1StringView("size"), resource.size)
        || !optionalText(*object, QLatin1StringView("sha256"), resource.sha256)
        || !optionalText(*object, QLatin1StringView("md5"), resource.md5))
        return std::nullopt;
    const QJsonValue embedded = object->value(QLatin1StringView("_embedded"));
    if (!embedded.isUndefined() && !embedded.isNull()) {
        resource.embedded = decodeEmbedded(embedded);
        if (!resource.embedded)
            return std::nullopt;
    }
    return resource;
}

std::optional<QUrl> decodeDownloadLink(const QByteArray &json)
{
    const std::optional<QJsonObject> object = objectOf(json);
    if (!object)
        return std::nullopt;
    QString href;
    if (!requiredText(*object, QLatin1StringView("href"), href))
        return std::nullopt;
    const QUrl url(href, QUrl::StrictMode);
    if (href.isEmpty() || !url.isValid())
        return std::nullopt;
    return url;
}

std::optional<YandexErrorResponse> decodeErrorResponse(const QByteArray &json)
{
    const std::optional<QJsonObject> object = objectOf(json);
    if (!object)
        return std::nullopt;
    YandexErrorResponse response;
    if (!optionalText(*object, QLatin1StringView("message"), response.message)
        || !optionalText(*object, QLatin1StringView("description"), response.description)
        || !optionalText(*object, QLatin1StringView("error"), response.error))
        return std::nullopt;
    return response;
}
