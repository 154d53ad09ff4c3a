#pragma once

#include "app/app_error.h"
#include "video/video_quality.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The engine's description of one video or of a publication holding several (its `entries`),
// decoded from the single JSON document of an analysis run.
struct VideoMetadata {
    std::optional<QString> title;
    QString videoID;
    std::optional<QString> originalLanguage;
    QList<VideoQuality> formats;
    std::optional<qint64> playlistIndex;
    // A publication's videos; a null element of the document stays as an empty slot.
    std::optional<QList<std::optional<VideoMetadata>>> entries;

    bool operator==(const VideoMetadata &) const = default;
};

// Decodes the engine's document. A missing "id", "format_id" or "ext", or a value of the wrong
// JSON type anywhere, fails the whole document with a Decoding error.
Result<VideoMetadata> decodeVideoMetadata(const QByteArray &json);
