#pragma once

#include "app/download_history.h"
#include "app/platform/clock.h"
#include "video/video_download_job.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class EnginePreparation;

// What the screen shows of the queue, at once.
struct QueueState {
    QList<VideoDownloadJob *> jobs; // queued and running, newest first
    int running = 0;
    int queued = 0;
};

// The video jobs the user queued: at most kMaximumConcurrentJobs run at a time, oldest first;
// each ended job becomes an entry of the video history and leaves the queue. Owns its jobs.
// Owned by DownloadModel; UI thread only.
class DownloadQueue : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaximumConcurrentJobs = 3;

    // `environment` is what every job gets; the engine's runtimes and folder usage are added.
    DownloadQueue(EnginePreparation &engine, VideoJobEnvironment environment,
                  DownloadHistory &history, const Clock &clock, QObject *parent = nullptr);
    // Jobs still under way are stopped (their processes ended, work folders removed).
    ~DownloadQueue() override;

    const QueueState &state() const { return m_state; }
    bool hasUnfinishedJobs() const { return !m_state.jobs.isEmpty(); }

    // A free path for a merged file in `folder`: a file on disk and a file that a queued or
    // running job will produce are equally taken.
    QString mergedDestination(const QString &folder, const QString &extension, const QString &title,
                              const QString &mediaId) const;
    // Queues a job as the newest; startQueued() follows.
    void add(const VideoDownloadJob::Description &description);
    // Starts the oldest queued jobs that the limit allows, with this engine.
    void startQueued(const QString &executable);
    // The job row's button: cancels a queued or running job (its end then reaches the
    // history), drops an ended one from the list.
    void cancelOrRemove(VideoDownloadJob *job);
    // The program is quitting: every job is stopped (a merge too), none starts any more and none
    // is recorded in the history. allStopped() follows, once, when every job has ended its
    // processes and removed its work folder (at once when there is none).
    void stopAll();

signals:
    void stateChanged(const QueueState &state);
    void allStopped();

private:
    void schedule(std::optional<QString> executable);
    void jobEnded(VideoDownloadJob *job, const JobResult &result);
    void publish();
    void reportIfAllStopped();

    EnginePreparation &m_engine;
    VideoJobEnvironment m_environment;
    DownloadHistory &m_history;
    const Clock &m_clock;
    QList<VideoDownloadJob *> m_jobs; // newest first, until each has ended
    QueueState m_state;
    bool m_stopping = false;
    bool m_reportedStopped = false;
};
