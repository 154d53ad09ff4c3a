#pragma once

#include "app/background_work.h"
#include "app/job.h"
#include "video/engine_analysis.h"
#include "video/video_metadata.h"

#include <QString>

#include <optional>

class BrowserSignIn;
class EnginePreparation;

// Where an analysis stands. Idle before it starts and after it ends.
enum class AnalysisPhase { Idle, PreparingEngine, RunningEngine, RefreshingEngine };

// What a successful analysis found: the engine's document and the access mode that worked
// (later downloads of the link use it too).
struct AnalysisFindings {
    VideoMetadata metadata;
    VideoAccessMode mode = VideoAccessMode::Standard;
    QByteArray document; // the engine's JSON document the metadata was read from
};

// What an analysis needs from the program besides the engine.
struct AnalysisEnvironment {
    VersionProbe *versions = nullptr;              // engine options follow the engine's build
    ProcessGroupRegistry *processGroups = nullptr; // ended when the program quits
    const BrowserSignIn *signIn = nullptr;         // a YouTube link's runs use its sign-in
};

// One analysis of a link: makes sure the engine is prepared for this run of the program, runs
// it in its single-document mode, falls back through YouTube's access modes, refreshes the
// engine once when its failure calls for that and retries. Ends with the findings (success), a
// closing status and a ready-to-show message (failure; statusText() holds the status), or
// Cancelled. Owned by LinkAnalysis; lives on the UI thread, engine runs on a worker.
class AnalysisJob : public Job {
    Q_OBJECT
public:
    // `link` is already normalised.
    AnalysisJob(QString link, EnginePreparation &engine, AnalysisEnvironment environment,
                QObject *parent = nullptr);
    // A running engine is stopped and waited for.
    ~AnalysisJob() override;

    AnalysisPhase phase() const { return m_phase; }
    // The phase the job starts in, and the status each working phase shows: the owner shows
    // them from the moment it starts the job, before the job's first turn.
    AnalysisPhase firstPhase() const;
    QString statusOf(AnalysisPhase phase) const;
    // The status of the current step; after a failure, the closing one.
    const QString &statusText() const { return m_status; }
    // Set once the job has succeeded.
    const std::optional<AnalysisFindings> &findings() const { return m_findings; }
    // Set once the job has failed in a way that a browser's sign-in may lift.
    bool signInMayHelp() const { return m_signInMayHelp; }

    // Shown when no engine is found to run (it is still being prepared or was removed).
    static QString enginePendingStatus();

signals:
    void stepChanged(AnalysisPhase phase, const QString &status);

protected:
    void run() override;
    void onCancel() override;
    QString cancelMessage() const override;

private:
    // The one place the phase changes: enters `phase` and starts its work; each step's end
    // comes back to one of the handlers below, which decide the next phase or the end.
    void enter(AnalysisPhase phase);
    void enginePrepared(bool ready);
    void engineRunEnded(const AnalysisVerdict &verdict);
    void engineRefreshed(bool ready);
    void end(JobResult result, const QString &status);
    void setStep(AnalysisPhase phase, const QString &status);

    QString m_link;
    EnginePreparation &m_engine;
    AnalysisEnvironment m_environment;
    AnalysisPhase m_phase = AnalysisPhase::Idle;
    QString m_status;
    VideoAccessMode m_mode = VideoAccessMode::Standard;
    bool m_repairAllowed = true; // the engine is refreshed at most once per analysis
    QString m_diagnostic;        // of the run that asked for the refresh
    QString m_signInBrowser;     // shown name of the browser whose sign-in the runs carry
    bool m_signInMayHelp = false;
    std::optional<AnalysisFindings> m_findings;
    RunningChild m_child;
    BackgroundWork m_work{this};
};
