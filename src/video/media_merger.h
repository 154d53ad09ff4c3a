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

// "-hide_banner" "-loglevel" "error" "-y", both inputs, the first video stream of the first and
// the first sound stream of the second copied unchanged, "+faststart" for MP4, the output last.
QStringList arguments(const QString &video, const QString &audio, const QString &output);

struct Setup {
    QStringList ffmpegCandidates;
    ProcessGroupRegistry *processGroups = nullptr;
    // Receives the run's control before the launch, so the owner can stop FFmpeg.
    std::function<void(const std::shared_ptr<ProcessControl> &)> started;
};

// Fails with "Не найден встроенный FFmpeg" when there is no FFmpeg, the launch error when it
// cannot start, FFmpeg's own error output when it fails (or "FFmpeg не смог объединить
// дорожки" when it printed nothing), and as cancelled when the owner stopped it.
Status merge(const QString &video, const QString &audio, const QString &output, const Setup &setup);

// The first free "NAME.mkv", "NAME (2).mkv", "NAME (3).mkv", … beside `path`, where NAME is
// `path`'s file name without its extension.
QString availableMKVURL(const QString &path);

} // namespace MediaMerger
