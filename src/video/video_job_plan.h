#pragma once

#include "video/video_quality.h"

#include <QString>

// How a video job is carried out: one engine run for a format that already has what the user
// wants (direct), or a video track and a sound track downloaded separately and joined without
// re-encoding (merged).
struct VideoJobPlan {
    enum class Kind { Direct, Merged };
    Kind kind = Kind::Direct;

    // Direct: the engine's format selector, and whether the result becomes an m4a sound file.
    QString format;
    bool extractAudio = false;

    // Merged: the video-only format, the sound format's id and the full path of the file to
    // produce (its extension is the video's merge-output extension).
    VideoQuality video;
    QString audioFormat;
    QString destination;

    static VideoJobPlan direct(QString format, bool extractAudio)
    {
        VideoJobPlan plan;
        plan.kind = Kind::Direct;
        plan.format = std::move(format);
        plan.extractAudio = extractAudio;
        return plan;
    }
    static VideoJobPlan merged(VideoQuality video, QString audioFormat, QString destination)
    {
        VideoJobPlan plan;
        plan.kind = Kind::Merged;
        plan.video = std::move(video);
        plan.audioFormat = std::move(audioFormat);
        plan.destination = std::move(destination);
        return plan;
    }
};
