#pragma once

#include "app/app_error.h"
#include "app/cancel_token.h"
#include "engine/engine_arguments.h"
#include "engine/js_runtime.h"
#include "app/process/process_runner.h"
#include "video/video_download_job.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

// The worker side of one VideoDownloadJob: straight-line code on the job's own thread that
// runs the plan's stages, blocks in the process runner, and reports to the job on the UI
// thread with queued calls only. Shared between the job and its thread; the job outlives
// the thread (its destructor waits for it).
struct VideoJobRun {
    VideoJobRun(VideoDownloadJob *job, VideoDownloadJob::Description description,
                VideoJobEnvironment environment, QString executable);

    // The whole plan; ends with exactly one VideoDownloadJob::workerEnded hop.
    void execute();

    // The user's cancel: the engine is stopped; a merge under way is let finish.
    void requestCancel();
    // The owner is going away: everything stops, FFmpeg included.
    void stopEverything();

private:
    struct Ending {
        VideoJobPhase phase = VideoJobPhase::Failed;
        QString status;
        std::optional<QString> error;
        std::optional<QString> outputPath;
    };

    Ending runDirect(const QString &workDir);
    Ending runMerged(const QString &workDir);
    ProcessResult runEngine(EngineArguments::DownloadRun run);
    // Failed engine runs: cancelled, launch error (text for that case given), or diagnostic.
    Ending engineFailure(const ProcessResult &result, const QString &launchStatus) const;
    Status mergeInto(const QString &video, const QString &audio, const QString &output);
    void beginStage(const QString &status);
    void attach(const std::shared_ptr<ProcessControl> &control, bool isMerge);
    void detach();
    bool cancelled() const { return m_cancel.isCancelled(); }
    static Ending cancelledEnding();

    VideoDownloadJob *m_job;
    VideoDownloadJob::Description m_description;
    VideoJobEnvironment m_environment;
    QString m_executable;
    QString m_jobId;
    EngineRunOptions m_runOptions;
    CancelToken m_cancel;

    std::mutex m_mutex;
    std::shared_ptr<ProcessControl> m_control;
    bool m_controlIsMerge = false;
    bool m_stopEverything = false;
};
