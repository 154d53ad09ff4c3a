#pragma once

#include "app/app_error.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <optional>

// What a piece of long work has done so far, in raw amounts; screens turn them into texts.
struct Progress {
    qint64 doneBytes = 0;
    qint64 totalBytes = -1; // -1 while the size is unknown
    int doneFiles = 0;
    int totalFiles = -1; // -1 where files are not counted
    // From the rate meter; none while it cannot tell yet (or while paused), 0 when data stops.
    std::optional<double> bytesPerSecond;

    bool operator==(const Progress &other) const = default;
    // doneBytes / totalBytes within 0…1, or none while the total is unknown.
    std::optional<double> fraction() const;
};

// How a job ended, with a ready-to-show Russian message: the reason of a failure, and for
// the other ends the closing status text where the job has one.
struct JobResult {
    Outcome outcome = Outcome::Failed;
    QString message;
    ErrorKind kind = ErrorKind::None; // for code: retry policy, icons

    static JobResult succeeded(QString message = {});
    static JobResult failed(const AppError &error);
    static JobResult failed(QString message, ErrorKind kind = ErrorKind::Internal);
    static JobResult cancelled(QString message = {});
};

enum class JobState { Pending, Running, Paused, Finished };

// The one shape of long, cancellable work with progress and one end: a Yandex Disk run, a
// video analysis, a video download, an engine install. A job is owned by whoever started it
// (its model or coordinator), which listens to finished() and calls deleteLater(); a job never
// deletes itself. Lives on the UI thread; blocking work runs on a BackgroundWork of the job.
//
// The contract, tested once for all jobs:
// - finished() is emitted exactly once, only through finish(); later finish() calls do nothing;
// - once cancel() was called the job never ends as Failed (a failure that races with the
//   cancel is reported as Cancelled); work that completed anyway may still end Succeeded;
// - a job that cannot pause ignores pause() and resume(); a paused job moves no work.
class Job : public QObject {
    Q_OBJECT
public:
    explicit Job(QObject *parent = nullptr);

    // Returns at once; the work begins on the next turn of the event loop. Only a pending job
    // starts.
    void start();
    void pause();
    void resume();
    // A pending job ends at once (see cancelledBeforeStart()); a running or paused one is asked
    // to stop and ends as Cancelled when its work has unwound.
    void cancel();

    JobState state() const { return m_state; }
    const Progress &progress() const { return m_progress; }
    bool isCancelRequested() const { return m_cancelRequested; }
    bool isFinished() const { return m_state == JobState::Finished; }
    // The result once finished; none before.
    const std::optional<JobResult> &result() const { return m_result; }
    virtual bool canPause() const { return false; }

signals:
    void stateChanged(JobState state);
    void progressChanged(const Progress &progress);
    void finished(const JobResult &result);

protected:
    // The work itself, called once on the UI thread after start(). It must end, sooner or
    // later, in finish().
    virtual void run() = 0;
    // Asks running work to stop; it then unwinds and calls finish() (any outcome becomes
    // Cancelled unless it succeeded). Also called for a paused job.
    virtual void onCancel() {}
    virtual void onPause() {}
    virtual void onResume() {}
    // The closing text of a cancelled job, and what a job cancelled before it ever started
    // ends with.
    virtual QString cancelMessage() const { return {}; }
    virtual JobResult cancelledBeforeStart() const { return JobResult::cancelled(cancelMessage()); }

    void setProgress(const Progress &progress);
    // The only way to emit finished().
    void finish(JobResult result);

private:
    void setState(JobState state);

    JobState m_state = JobState::Pending;
    Progress m_progress;
    std::optional<JobResult> m_result;
    bool m_cancelRequested = false;
};

Q_DECLARE_METATYPE(Progress)
Q_DECLARE_METATYPE(JobResult)
