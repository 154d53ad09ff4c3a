#pragma once

#include "app/job.h"

#include <QString>

#include <optional>

// The life of a video job as its row and its queue see it; the last three never change again.
enum class VideoJobPhase { Queued, Running, Completed, Failed, Canceled };

inline bool isTerminal(VideoJobPhase phase)
{
    return phase == VideoJobPhase::Completed || phase == VideoJobPhase::Failed
           || phase == VideoJobPhase::Canceled;
}

// What a video job is doing. Preparing covers the work folder and the engine's options;
// Downloading is the one engine run of a direct job; a merged job downloads its two tracks and
// then merges them.
enum class VideoJobStage {
    Queued,
    Preparing,
    Downloading,
    VideoTrack,
    SoundTrack,
    Merging,
    Cancelling,
    Ended,
};

// How a video job ended.
enum class VideoJobEnding {
    RemovedFromQueue,
    Cancelled,
    Downloaded,
    Merged,
    MergedAsMKV, // FFmpeg refused MP4, so the tracks went into MKV
    DownloadFailed,
    LaunchFailed,
    MergeFailed,
};

// The merge a job carries out: the container in capitals ("MP4") and the video codec's label.
struct MergeNote {
    QString container;
    QString codec;

    bool operator==(const MergeNote &) const = default;
};

// Everything a job's row draws, at once. Progress counts the bytes of the file the current
// stage downloads and is refreshed at most every half second; after a cancel it stays as it
// was when the cancel came.
struct VideoJobState {
    VideoJobStage stage = VideoJobStage::Queued;
    Progress progress;
    std::optional<MergeNote> merge;       // from the start of the merge on
    std::optional<VideoJobEnding> ending; // once Ended
    QString failure;                      // why a failed job failed, ready to show
    // The last known share of the stage's file: the bar keeps it when a later progress line no
    // longer tells the total (the engine sometimes drops its estimate).
    double lastKnownFraction = 0;

    bool operator==(const VideoJobState &) const = default;
};

// The row's texts and looks, built from the state alone.
VideoJobPhase videoJobPhase(const VideoJobState &state);
// "В очереди", the stage's own line until the first progress, then "Загружаю… 45%", and the
// closing line once ended (the queue keeps that one as the history message).
QString videoJobStatus(const VideoJobState &state);
// "Скачано X из Y · speed" while downloading, the merge's container and codec from the merge
// on; empty before any bytes arrived.
QString videoJobDetail(const VideoJobState &state);
// The bar's fill from 0 to 1: full once completed, else the stage's last known share.
double videoJobBarFraction(const VideoJobState &state);
