#pragma once

#include "app/app_error.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class ProcessControl;
class ProcessGroupRegistry;

// Joins a video track and a sound track into one file without re-encoding, with FFmpeg run
// as a child process. Stateless; merge() blocks, so it runs on a job's worker thread.
namespace MediaMerger {

struct Setup {
    QStringList ffmpegCandidates;
    ProcessGroupRegistry *processGroups = nullptr;
    // Receives the run's control before the launch, so the owner can stop FFmpeg.
    std::function<void(const std::shared_ptr<ProcessControl> &)> started;
};

// Copies the first video stream of `video` and the first sound stream of `audio` unchanged into
// `output` (replacing it). Fails with "Не найден встроенный FFmpeg" when there is no FFmpeg, the
// launch error when it cannot start, and FFmpeg's own error output when it fails (or "FFmpeg не
// смог объединить дорожки" when it printed nothing). A run stopped through `started`'s control
// fails like any other: whoever stopped it knows why.
Status merge(const QString &video, const QString &audio, const QString &output, const Setup &setup);

// The first free "NAME.mkv", "NAME (2).mkv", "NAME (3).mkv", … beside `path`, where NAME is
// `path`'s file name without its extension.
QString availableMKVURL(const QString &path);

} // namespace MediaMerger
