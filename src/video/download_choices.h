#pragma once

#include "video/download_option.h"
#include "video/video_metadata.h"

#include <QList>

// The three lists the quality picker offers for one video.
struct DownloadChoices {
    QList<DownloadOption> withAudio;
    QList<VideoQuality> audioOnly;
    QList<VideoQuality> videoOnly;

    bool isEmpty() const
    {
        return withAudio.isEmpty() && audioOnly.isEmpty() && videoOnly.isEmpty();
    }
};

// Turns one video's formats into the picker's lists: choices with sound (video-only formats get
// the best sound track to merge with), one entry per sound track and container, and video-only
// formats; one entry per visible quality, best first.
DownloadChoices downloadChoices(const VideoMetadata &metadata);

// Whether `a` should stand for a shown quality instead of `b`: higher frame rate, then higher
// quality preference, then the smaller format id.
bool videoIsPreferred(const VideoQuality &a, const VideoQuality &b);
