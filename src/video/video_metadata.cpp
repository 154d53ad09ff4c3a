#include "video/video_metadata.h"

#include "video/json_fields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Publications nest rarely deeper than a channel holding playlists; the bound only keeps a
// hostile document from exhausting the stack.
constexpr int kMaxNesting = 16;

std::optional<VideoMetadata> decodeObject(const QJsonObject &object, int depth, QString *error)
{
    using namespace JsonFields;
    if (depth > kMaxNesting) {
        *error = QStringLiteral("слишком глубокая вложенность");
        return std::nullopt;
    }
    VideoMetadata meta;
    std::optional<QString> id;
    if (!readString(object, "title", meta.title, error) || !readString(object, "id", id, error)
        || !readString(object, "language", meta.originalLanguage, error)
        || !readInteger(object, "playlist_index", meta.playlistIndex, error))
        return std::nullopt;
    if (!id) {
        *error = QStringLiteral("нет обязательного значения «id»");
        return std::nullopt;
    }
    meta.videoID = *id;

    const QJsonValue formats = object.value(QLatin1StringView("formats"));
    if (!formats.isUndefined() && !formats.isNull()) {
        if (!formats.isArray()) {
            *error = QStringLiteral("неверный тип значения «formats»");
            return std::nullopt;
        }
        for (const QJsonValue &element : formats.toArray()) {
            if (!element.isObject()) {
                *error = QStringLiteral("неверный тип элемента «formats»");
                return std::nullopt;
            }
            auto quality = decodeVideoQuality(element.toObject(), error);
            if (!quality)
                return std::nullopt;
            meta.formats.append(std::move(*quality));
        }
    }

    const QJsonValue entries = object.value(QLatin1StringView("entries"));
    if (!entries.isUndefined() && !entries.isNull()) {
        if (!entries.isArray()) {
            *error = QStringLiteral("неверный тип значения «entries»");
            return std::nullopt;
        }
        QList<std::optional<VideoMetadata>> list;
        for (const QJsonValue &element : entries.toArray()) {
            if (element.isNull()) {
                list.append(std::nullopt);
                continue;
            }
            if (!element.isObject()) {
                *error = QStringLiteral("неверный тип элемента «entries»");
                return std::nullopt;
            }
            auto entry = decodeObject(element.toObject(), depth + 1, error);
            if (!entry)
                return std::nullopt;
            list.append(std::move(*entry));
        }
        meta.entries = std::move(list);
    }
    return meta;
}

} // namespace

Result<VideoMetadata> decodeVideoMetadata(const QByteArray &json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    const QString prefix = QStringLiteral("Не удалось прочитать ответ видеоплатформы: ");
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return AppError(prefix + QStringLiteral("это не документ JSON."), ErrorKind::Decoding);
    QString error;
    auto meta = decodeObject(document.object(), 0, &error);
    if (!meta)
        return AppError(prefix + error + u'.', ErrorKind::Decoding);
    return std::move(*meta);
}
