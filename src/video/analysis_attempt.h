#pragma once

#include "app/app_error.h"
#include "engine/engine_arguments.h"
#include "engine/js_runtime.h"
#include "app/process/process_runner.h"
#include "video/video_metadata.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

class ProcessGroupRegistry;
class QThread;
class ToolFolderUsage;

// How one analysis run of the engine ended, decided on the worker thread.
struct AnalysisOutcome {
    enum class Kind { Success, Cancelled, Fallback, Repair, EngineFailure, GenericFailure };
    Kind kind = Kind::GenericFailure;
    VideoAccessMode mode = VideoAccessMode::Standard;     // the mode that ran
    VideoAccessMode nextMode = VideoAccessMode::Standard; // Fallback: the mode to try next
    std::optional<VideoMetadata> metadata;                // Success
    QString diagnostic;                                   // the engine's standard error
    QString errorText;                                    // GenericFailure: ready to show
    bool allowAutomaticRepair = false;                    // carried on by a fallback
};

// What an attempt needs, copied to its thread.
struct AnalysisRequest {
    QString executable;
    QString link;
    VideoAccessMode mode = VideoAccessMode::Standard;
    bool isYouTube = false;
    bool allowAutomaticRepair = false;
    ProcessGroupRegistry *processGroups = nullptr;
    ToolFolderUsage *engineFolderUsage = nullptr;
    VersionProbe *versions = nullptr; // the build decides whether runtime options are passed
    QList<JsRuntime> runtimes;        // tried in order
};

// One analysis run in progress: the engine child of DownloadModel's `process`. The model
// holds it while it runs (its canCancel) and stops it through cancel(), from the UI thread,
// before or after the child starts.
struct AnalysisAttempt {
    QThread *thread = nullptr;

    void cancel();
    // Called on the worker thread before the launch.
    void attach(const std::shared_ptr<ProcessControl> &control);

private:
    std::mutex m_mutex;
    std::shared_ptr<ProcessControl> m_control;
    bool m_cancelRequested = false;
};

// Runs the engine once in its single-document mode and decides what follows: the decoded
// document, a cancel, a YouTube fallback mode, an engine refresh, or a failure. Blocks.
AnalysisOutcome runAnalysis(const AnalysisRequest &request, AnalysisAttempt &attempt);

// Pure decision over a finished run (exposed for tests of the fallback and refresh rules).
AnalysisOutcome decideAnalysis(const AnalysisRequest &request, const ProcessResult &result);
