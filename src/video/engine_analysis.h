#pragma once

#include "app/process/process_runner.h"
#include "engine/engine_arguments.h"
#include "engine/js_runtime.h"
#include "video/running_child.h"
#include "video/video_metadata.h"

#include <QString>

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
    QStringList signInArguments;      // a browser's sign-in, for a YouTube link
};

// What follows one engine run of an analysis.
struct AnalysisVerdict {
    enum class Kind { Success, Cancelled, Fallback, Repair, EngineFailure, GenericFailure };
    Kind kind = Kind::GenericFailure;
    VideoAccessMode nextMode = VideoAccessMode::Standard; // Fallback: the mode to try next
    std::optional<VideoMetadata> metadata;                // Success
    QByteArray document;                                  // Success: as the engine printed it
    QString diagnostic;                                   // the engine's standard error
    QString errorText;                                    // GenericFailure: ready to show
};

// The pure decision over a finished run: the decoded document, a cancel, the next YouTube
// access mode, an engine refresh, or a failure.
AnalysisVerdict decideAnalysis(const AnalysisRequest &request, const ProcessResult &result);

// Runs the engine once in its single-document mode and decides; blocks, on a worker thread.
// `child` carries the owner's stop to the engine, before or after it starts.
AnalysisVerdict runEngineAnalysis(const AnalysisRequest &request, RunningChild &child);
