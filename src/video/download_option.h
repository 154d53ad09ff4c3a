#pragma once

#include "video/video_quality.h"

#include <QString>

#include <optional>

// One choice with sound in the quality picker: a format that already has sound, or a video-only
// format plus the sound format to merge with it after downloading both.
struct DownloadOption {
    VideoQuality video;
    std::optional<QString> audioFormatID;

    bool requiresMerge() const { return audioFormatID.has_value(); }
    QString title() const { return video.title(); }
    QString detail() const;
    bool operator==(const DownloadOption &) const = default;
};
