#pragma once

#include "app/process/process_runner.h"
#include "engine/engine_arguments.h"
#include "engine/js_runtime.h"
#include "video/video_metadata.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

class ProcessGroupRegistry;
class ToolFolderUsage;

// What one engine run of an analysis needs, copied to its worker thread.
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

// What follows one engine run of an analysis.
struct AnalysisVerdict {
    enum class Kind { Success, Cancelled, Fallback, Repair, EngineFailure, GenericFailure };
    Kind kind = Kind::GenericFailure;
    VideoAccessMode nextMode = VideoAccessMode::Standard; // Fallback: the mode to try next
    std::optional<VideoMetadata> metadata;                // Success
    QString diagnostic;                                   // the engine's standard error
    QString errorText;                                    // GenericFailure: ready to show
};

// The pure decision over a finished run: the decoded document, a cancel, the next YouTube
// access mode, an engine refresh, or a failure.
AnalysisVerdict decideAnalysis(const AnalysisRequest &request, const ProcessResult &result);

// The stop of an engine run on a worker thread, asked for from the owner's thread before or
// after the child starts (or once it has ended). Thread-safe.
class EngineRunStop {
public:
    void request();

private:
    friend AnalysisVerdict runEngineAnalysis(const AnalysisRequest &, EngineRunStop &);
    void attach(const std::shared_ptr<ProcessControl> &control);

    std::mutex m_mutex;
    std::shared_ptr<ProcessControl> m_control;
    bool m_requested = false;
};

// Runs the engine once in its single-document mode and decides; blocks, on a worker thread.
AnalysisVerdict runEngineAnalysis(const AnalysisRequest &request, EngineRunStop &stop);
