#pragma once

#include "app/background_work.h"
#include "app/job.h"
#include "app/rate_meter.h"
#include "engine/js_runtime.h"
#include "video/download_kind.h"
#include "video/running_child.h"
#include "video/video_job_plan.h"
#include "video/video_job_state.h"

#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUuid>

#include <functional>
#include <mutex>
#include <optional>

class Clock;
class ProcessGroupRegistry;
class ToolFolderUsage;
struct ProcessResult;
namespace EngineArguments {
struct DownloadRun;
}

// What a job needs from the program besides its own description. Owned by the queue, which
// outlives its jobs; every pointer may be null in tests.
struct VideoJobEnvironment {
    QStringList ffmpegCandidates;                  // see FFmpeg::defaultCandidates()
    VersionProbe *versions = nullptr;              // engine options follow the engine's build date
    QList<JsRuntime> runtimes;                     // tried in order for builds that take one
    ToolFolderUsage *engineFolderUsage = nullptr;  // a refresh never swaps a folder in use
    ProcessGroupRegistry *processGroups = nullptr; // ended when the program quits
    const Clock *clock = nullptr;                  // how old an analysis's document is
    int refreshIntervalMs = 500;
    // Empty in the program. Called on the worker before the final rename takes its lock
    // (false) and again holding it, once no cancel came (true): the only way a test can land
    // a cancel at either moment of a step that takes microseconds.
    std::function<void(bool holdingLock)> beforeFinalRename;
};

// What a job's plan came to, handed from its worker thread to the job.
struct VideoPlanResult {
    VideoJobEnding ending = VideoJobEnding::Cancelled;
    QString failure; // why it failed, ready to show
    ErrorKind kind = ErrorKind::None;
    QString outputPath; // the placed file, on success

    static VideoPlanResult failed(VideoJobEnding ending, QString failure, ErrorKind kind)
    {
        VideoPlanResult result;
        result.ending = ending;
        result.failure = std::move(failure);
        result.kind = kind;
        return result;
    }
    static VideoPlanResult placed(VideoJobEnding ending, QString outputPath)
    {
        VideoPlanResult result;
        result.ending = ending;
        result.outputPath = std::move(outputPath);
        return result;
    }
};

// One queued video or audio download: the engine once (direct plan) or twice and FFmpeg (merged
// plan), run as straight-line code on the job's worker thread. The engine writes into a work
// folder of the job's own, hidden inside the chosen folder (see WorkFolder); the finished file is
// renamed into the chosen folder without replacing anything, so outputPath() names the file
// really produced. The row draws from videoState(),
// which changes on the UI thread only; the phase changes with Job::stateChanged.
// Created and owned by the queue, which starts it after setEngineExecutable() and deletes it
// (deleteLater) after finished(). Destroying a running job stops the engine and FFmpeg and
// removes the work folder before it returns. Besides Job's operations it has only the
// accessors the queue and the row read, which is why the count of public methods runs high.
class VideoDownloadJob : public Job {
    Q_OBJECT
public:
    struct Description {
        QString title;
        DownloadKind kind = DownloadKind::Video;
        QString folder;     // the folder the user chose
        QString outputPath; // the folder (direct) or the planned file (merged)
        QString input;      // the link handed to the engine
        VideoJobPlan plan;
        QStringList extractorArguments; // before the link: publication item, access mode
        QString signInBrowser;          // shown name of the browser whose sign-in runs carry
        // The analysis's JSON document of the video and when it was made (the clock's
        // monotonic seconds): a job that starts soon after downloads from it.
        QByteArray document;
        double analysedAt = 0;
    };

    VideoDownloadJob(Description description, VideoJobEnvironment environment,
                     QObject *parent = nullptr);
    ~VideoDownloadJob() override;

    // The engine the plan runs; the worker reads it, so it is fixed once the job started.
    void setEngineExecutable(const QString &executable)
    {
        if (state() == JobState::Pending)
            m_executable = executable;
    }

    // The program is quitting: ends the job as cancel() does, and stops a merge under way too.
    void abandon()
    {
        cancel();
        m_child.stopAll();
    }

    QUuid id() const { return m_id; }
    QString title() const { return m_description.title; }
    DownloadKind kind() const { return m_description.kind; }
    QString folder() const { return m_description.folder; }
    const VideoJobPlan &plan() const { return m_description.plan; }
    QStringList extractorArguments() const { return m_description.extractorArguments; }
    QString outputPath() const { return m_outputPath; }
    // From the job's state and result: Queued while pending, Running until finished.
    VideoJobPhase phase() const;
    const VideoJobState &videoState() const { return m_state; }
    // The line under the title; once finished, the closing line.
    QString statusText() const { return videoJobStatus(m_state); }
    // Why the job failed; empty unless it did.
    QString errorMessage() const { return m_state.failure; }

signals:
    void videoStateChanged(const VideoJobState &state);

protected:
    void run() override;
    // Queued: ends at once ("Убрано из очереди"). Running: "Отменяю…", the engine is stopped
    // and the plan unwinds; a merge under way is let finish and its result removed.
    void onCancel() override;
    QString cancelMessage() const override;
    JobResult cancelledBeforeStart() const override;

private:
    // UI thread.
    void jobStateChanged(JobState state);
    void beginStage(VideoJobStage stage, double at);
    void beginMerge();
    void takeProgressLine(const QString &line, double readAt);
    void refreshProgress();
    void end(const VideoPlanResult &result);
    void publish();

    // Worker thread, in video_download_job_plan.cpp: these read only the description, the
    // environment, the executable and the id (fixed once started) and reach the UI thread
    // through m_work.post() and m_child alone.
    VideoPlanResult runPlan(const CancelToken &token);
    VideoPlanResult runDirect(const QString &workDir, const EngineRunOptions &options,
                              const CancelToken &token);
    VideoPlanResult runMerged(const QString &workDir, const EngineRunOptions &options,
                              const CancelToken &token);
    // From the document while it serves, else from the link.
    ProcessResult runEngine(EngineArguments::DownloadRun run, const EngineRunOptions &options,
                            VideoJobStage stage);
    ProcessResult runEngineOnce(const EngineArguments::DownloadRun &run,
                                const EngineRunOptions &options, VideoJobStage stage);
    Status merge(const QString &video, const QString &audio, const QString &output);
    Result<QString> place(const QString &source, const QString &destination,
                          const CancelToken &token);

    const QUuid m_id = QUuid::createUuid();
    const Description m_description;
    const VideoJobEnvironment m_environment;
    QString m_executable;
    // Set at the start, before the worker runs; the worker's first engine run writes the
    // document and clears it. The file is used while the host accepts its media links.
    bool m_fromDocument = false;
    std::optional<QString> m_documentFile;

    QString m_outputPath;
    VideoJobState m_state;
    QTimer m_refresh;
    DownloadRateMeter m_rateMeter;
    qint64 m_downloadedBytes = 0;
    std::optional<qint64> m_expectedBytes;
    double m_stageStartedAt = 0;
    double m_lastLineAt = 0;

    RunningChild m_child;
    std::mutex m_placing;        // the final rename, and a cancel racing with it
    BackgroundWork m_work{this}; // last: it stops and joins the worker before the rest goes
};
