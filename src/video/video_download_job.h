#pragma once

#include "app/rate_meter.h"
#include "engine/js_runtime.h"
#include "video/download_kind.h"
#include "video/video_job_plan.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <memory>
#include <optional>

class ProcessGroupRegistry;
class QThread;
class QTimer;
class ToolFolderUsage;
struct VideoJobRun;

// The life of a video job; the last three never change again.
enum class VideoJobPhase { Queued, Running, Completed, Failed, Canceled };

inline bool isTerminal(VideoJobPhase phase)
{
    return phase == VideoJobPhase::Completed || phase == VideoJobPhase::Failed
           || phase == VideoJobPhase::Canceled;
}

// What a job needs from the program besides its own description. Owned by the queue
// (DownloadModel), which outlives its jobs; every pointer may be null in tests.
struct VideoJobEnvironment {
    QString tempFolder;                            // work folders are made here, one per job
    QStringList ffmpegCandidates;                  // see FFmpeg::defaultCandidates()
    VersionProbe *versions = nullptr;              // engine options follow the engine's build date
    QList<JsRuntime> runtimes;                     // tried in order for builds that take one
    ToolFolderUsage *engineFolderUsage = nullptr;  // a refresh never swaps a folder in use
    ProcessGroupRegistry *processGroups = nullptr; // ended when the program quits
    int refreshIntervalMs = 500;
};

// One queued video or audio download: runs the engine once (direct) or twice and FFmpeg
// (merged) on a worker thread of its own, publishes its phase and texts for its row, and
// emits finished() exactly once when it reaches a terminal phase. The engine writes into a
// work folder in the temporary folder; the finished file is moved into the chosen folder
// without replacing anything, so outputPath names the file really produced.
// Created and owned by DownloadModel, which deletes it (deleteLater) after finished();
// every property changes on the UI thread only. Rows should hold it through a QPointer.
class VideoDownloadJob : public QObject {
    Q_OBJECT
    Q_PROPERTY(QUuid id READ id CONSTANT)
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(DownloadKind kind READ kind CONSTANT)
    Q_PROPERTY(QString folder READ folder CONSTANT)
    Q_PROPERTY(QString outputPath READ outputPath NOTIFY outputPathChanged)
    Q_PROPERTY(VideoJobPhase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString detail READ detail NOTIFY detailChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorMessageChanged)
    Q_PROPERTY(bool canCancel READ canCancel NOTIFY phaseChanged)

public:
    struct Description {
        QString title;
        DownloadKind kind = DownloadKind::Video;
        QString folder;     // the folder the user chose
        QString outputPath; // the folder (direct) or the planned file (merged)
        QString input;      // the link handed to the engine
        VideoJobPlan plan;
        QStringList extractorArguments; // before the link: publication item, access mode
    };

    VideoDownloadJob(Description description, VideoJobEnvironment environment,
                     QObject *parent = nullptr);
    // A job still running is stopped (engine and FFmpeg groups ended, work folder removed)
    // and waited for.
    ~VideoDownloadJob() override;

    QUuid id() const { return m_id; }
    QString title() const { return m_description.title; }
    DownloadKind kind() const { return m_description.kind; }
    QString folder() const { return m_description.folder; }
    QString outputPath() const { return m_outputPath; }
    VideoJobPhase phase() const { return m_phase; }
    double progress() const { return m_progress; }
    QString status() const { return m_status; }
    QString detail() const { return m_detail; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    QString errorText() const { return m_errorMessage.value_or(QString()); }
    bool canCancel() const { return !isTerminal(m_phase); }
    const VideoJobPlan &plan() const { return m_description.plan; }
    QString input() const { return m_description.input; }
    QStringList extractorArguments() const { return m_description.extractorArguments; }

    // Begins the plan with this engine executable; ignored unless queued.
    void start(const QString &executable);
    // Queued: ends at once as cancelled ("Убрано из очереди"). Running: "Отменяю…", the engine
    // is ended and the run unwinds to cancelled. A merge already under way is let finish and
    // its result removed. Terminal: nothing.
    void cancel();

signals:
    void outputPathChanged();
    void phaseChanged();
    void progressChanged();
    void statusChanged();
    void detailChanged();
    void errorMessageChanged();
    // Exactly once, on the way into a terminal phase.
    void finished(VideoDownloadJob *job);

private:
    friend struct VideoJobRun;
    // Hops from the worker; all run on the UI thread.
    void beginStage(const QString &status, double at);
    void beginMergeStage(const QString &detail);
    void processProgressLine(const QString &line, double readAt);
    void refreshDownloadProgress();
    void workerEnded(VideoJobPhase phase, const QString &status,
                     const std::optional<QString> &error, const std::optional<QString> &output);
    void finish(VideoJobPhase phase, const QString &status, const std::optional<QString> &error);
    void stopRefreshLoop();

    void setOutputPath(const QString &path);
    void setPhase(VideoJobPhase phase);
    void setProgress(double progress);
    void setStatus(const QString &status);
    void setDetail(const QString &detail);
    void setErrorMessage(const std::optional<QString> &message);

    QUuid m_id = QUuid::createUuid();
    Description m_description;
    VideoJobEnvironment m_environment;

    QString m_outputPath;
    VideoJobPhase m_phase = VideoJobPhase::Queued;
    double m_progress = 0;
    QString m_status;
    QString m_detail;
    std::optional<QString> m_errorMessage;

    std::shared_ptr<VideoJobRun> m_run; // shared with the worker thread
    QThread *m_worker = nullptr;
    QTimer *m_refreshTimer = nullptr;
    DownloadRateMeter m_rateMeter;
    qint64 m_downloadedBytes = 0;
    std::optional<qint64> m_expectedBytes;
    double m_stageStartedAt = 0;
    double m_lastProgressTimestamp = 0;
    bool m_cancellationRequested = false;
};
