#pragma once

#include "app/process/line_splitter.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QProcess;
class QTemporaryDir;
class QTimer;
class ProcessGroupRegistry;
class ProcessRunner;

// What to run and how to read it. The program is started directly, never through a shell.
struct ProcessRequest {
    QString program{};
    QStringList arguments{};
    // Where the child runs: a folder of the owner's. Empty: a private empty folder made for this
    // run and removed after it. Never the program's own working directory, where the engine
    // would read the user's settings file and leave whatever it writes by relative name.
    QString workingDirectory{};
    // true: standard output is one document kept whole in memory (an analysis);
    // false: it is read line by line and only progress lines matter (a download).
    bool keepStandardOutput = false;
    // Lines (on either pipe) that contain this marker are progress lines for the owner;
    // empty: there are none, and standard-error lines all belong to the diagnostic.
    QByteArray progressMarker{};
    // A document beyond this size ends the child; the result says so.
    qint64 standardOutputLimit = qint64(64) << 20;
    // > 0: at most one progress line per this many seconds reaches the owner, for engines
    // too old to throttle themselves. The latest held-back line is still delivered, at the
    // latest when the child exits.
    double progressIntervalSeconds = 0;
    // > 0: the child is ended when it runs longer than this (used by short probes).
    double timeoutSeconds = 0;
    // Where the child's process group is listed while it runs (optional), so the program can
    // end it when it quits.
    ProcessGroupRegistry *groups = nullptr;
};

// How one run ended.
struct ProcessResult {
    bool launched = false;
    QString launchError; // ready to show, when !launched
    int exitCode = -1;
    bool endedBySignal = false;
    bool cancelled = false; // the owner asked for the stop; then any end counts as cancelled
    bool outputLimitExceeded = false;
    bool timedOut = false;
    QByteArray standardOutput; // only with keepStandardOutput
    QString diagnostic;        // standard-error lines that are not progress, UTF-8, one per line

    bool succeeded() const
    {
        return launched && !cancelled && !endedBySignal && exitCode == 0 && !outputLimitExceeded
               && !timedOut;
    }
};

// A thread-safe handle for stopping one run from anywhere, before or after it starts. A stop
// that arrives before the child exists is remembered and carried out right after the start.
class ProcessControl {
public:
    void cancel();
    bool isCancelRequested() const;

private:
    friend class ProcessRunner;
    void attach(ProcessRunner *runner);
    void detach();

    mutable std::mutex m_mutex;
    ProcessRunner *m_runner = nullptr;
    bool m_cancelRequested = false;
};

// Runs one outside program (the engine, FFmpeg) as a small state machine on the thread that
// owns it: both pipes are read as they fill, split into lines on bytes and decoded leniently
// as UTF-8; lines carrying the request's progress marker go to progressLine(), the other
// standard-error lines form the diagnostic. The child gets a process group of its own so that
// stopping it also stops what it started. finished() is emitted exactly once.
class ProcessRunner : public QObject {
    Q_OBJECT
public:
    explicit ProcessRunner(QObject *parent = nullptr);
    // A running child is ended (its whole group) before the runner goes away.
    ~ProcessRunner() override;

    // Starts the child; returns at once. Only the first call does anything.
    void start(const ProcessRequest &request);
    // The owner's stop: SIGTERM to the child's group, SIGKILL after a short grace period.
    void cancel();
    std::shared_ptr<ProcessControl> control() const { return m_control; }

    static constexpr int kGraceMs = 2000;

signals:
    // `readAt` is the monotonic time (seconds) when the line was read from the pipe.
    void progressLine(const QString &line, double readAt);
    void finished(const ProcessResult &result);

private:
    void onStarted();
    void onFailedToStart();
    void onFinished(int exitCode, bool crashed);
    void readStandardOutput();
    void readStandardError();
    bool isProgressLine(const QByteArray &line) const;
    void handleStandardOutputLine(const QByteArray &line, double readAt);
    void handleStandardErrorLine(const QByteArray &line, double readAt, bool terminated);
    void offerProgress(const QString &line, double readAt);
    void deliverHeldProgress();
    void signalGroup(int signalNumber);
    void endGroup();
    void complete();

    std::shared_ptr<ProcessControl> m_control = std::make_shared<ProcessControl>();
    ProcessRequest m_request;
    ProcessResult m_result;
    QProcess *m_process = nullptr;
    std::unique_ptr<QTemporaryDir> m_privateFolder;
    QTimer *m_killTimer = nullptr;
    QTimer *m_throttleTimer = nullptr;
    QTimer *m_timeoutTimer = nullptr;
    LineSplitter m_outLines;
    LineSplitter m_errLines;
    qint64 m_pid = 0;
    bool m_startCalled = false;
    bool m_running = false;
    bool m_done = false;
    bool m_terminating = false;
    std::optional<double> m_lastDeliveredAt;
    std::optional<std::pair<QString, double>> m_heldProgress;
};

// Runs a request to its end on the calling worker thread (never the UI thread), with an event
// loop of its own. `started` receives the control before the launch, for a canceller; lines
// are handed to `progress` on this thread.
ProcessResult
runProcessToEnd(const ProcessRequest &request,
                const std::function<void(const std::shared_ptr<ProcessControl> &)> &started = {},
                const std::function<void(const QString &line, double readAt)> &progress = {});
