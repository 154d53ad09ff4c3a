#include "app/download_history_item.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// 2001-01-01 00:00:00 UTC in milliseconds since the Unix epoch.
constexpr qint64 kReferenceDateMs = 978307200000LL;

QString resultText(DownloadHistoryItem::Result result)
{
    switch (result) {
    case DownloadHistoryItem::Result::Completed:
        return QStringLiteral("completed");
    case DownloadHistoryItem::Result::Failed:
        return QStringLiteral("failed");
    case DownloadHistoryItem::Result::Canceled:
        return QStringLiteral("canceled");
    }
    return QStringLiteral("failed");
}

std::optional<DownloadHistoryItem::Result> resultFromText(const QString &text)
{
    if (text == u"completed")
        return DownloadHistoryItem::Result::Completed;
    if (text == u"failed")
        return DownloadHistoryItem::Result::Failed;
    if (text == u"canceled")
        return DownloadHistoryItem::Result::Canceled;
    return std::nullopt;
}

std::optional<QUuid> uuidFromText(const QString &text)
{
    if (text.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QStringLiteral("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

std::optional<DownloadHistoryItem> decodeItem(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    const QJsonValue id = o.value(u"id"), name = o.value(u"name"), path = o.value(u"path"),
                     date = o.value(u"date"), result = o.value(u"result"),
                     message = o.value(u"message");
    if (!id.isString() || !name.isString() || !path.isString() || !date.isDouble()
        || !result.isString() || !message.isString())
        return std::nullopt;
    const auto uuid = uuidFromText(id.toString());
    const auto res = resultFromText(result.toString());
    const QDateTime when = dateFromReferenceSeconds(date.toDouble());
    if (!uuid || !res || !when.isValid())
        return std::nullopt;
    return DownloadHistoryItem{*uuid, name.toString(),   path.toString(), when,
                               *res,  message.toString()};
}

} // namespace

double secondsSinceReferenceDate(const QDateTime &date)
{
    return double(date.toMSecsSinceEpoch() - kReferenceDateMs) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds)
{
    // Beyond a few hundred thousand years the millisecond count would overflow.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e13)
        return {};
    const qint64 ms = std::llround(seconds * 1000.0);
    return QDateTime::fromMSecsSinceEpoch(ms + kReferenceDateMs, Qt::UTC);
}

QByteArray encodeHistory(const QList<DownloadHistoryItem> &items)
{
    QJsonArray array;
    for (const DownloadHistoryItem &item : items) {
        QJsonObject o;
        o.insert(u"id", item.id.toString(QUuid::WithoutBraces).toUpper());
        o.insert(u"name", item.name);
        o.insert(u"path", item.path);
        o.insert(u"date", secondsSinceReferenceDate(item.date));
        o.insert(u"result", resultText(item.result));
        o.insert(u"message", item.message);
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<DownloadHistoryItem>> decodeHistory(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<DownloadHistoryItem> items;
    const QJsonArray array = doc.array();
    items.reserve(array.size());
    for (const QJsonValue &value : array) {
        auto item = decodeItem(value);
        if (!item)
            return std::nullopt;
        items.append(std::move(*item));
    }
    return items;
}
