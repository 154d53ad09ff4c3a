#pragma once

#include "video/video_metadata.h"

#include <QString>

#include <optional>

// One video of an analysed link, in the order the engine listed them.
struct PublicationVideo {
    VideoMetadata metadata;
    // The video's number for the engine's "--playlist-items"; none for a single video.
    std::optional<qint64> playlistIndex;
    QString title; // shown in the picker's list of videos
    // The engine's JSON document of this video alone (a publication's entry), for its downloads.
    QByteArray document;

    bool operator==(const PublicationVideo &) const = default;
};
