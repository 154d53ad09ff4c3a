#include "video/analysis_attempt.h"

#include "engine/tool_folder_usage.h"
#include "video/download_failure.h"

void AnalysisAttempt::cancel()
{
    std::lock_guard lock(m_mutex);
    m_cancelRequested = true;
    if (m_control)
        m_control->cancel();
}

void AnalysisAttempt::attach(const std::shared_ptr<ProcessControl> &control)
{
    std::lock_guard lock(m_mutex);
    m_control = control;
    if (m_cancelRequested)
        control->cancel();
}

AnalysisOutcome runAnalysis(const AnalysisRequest &request, AnalysisAttempt &attempt)
{
    ToolFolderUsage::Lease lease;
    if (request.engineFolderUsage)
        lease = request.engineFolderUsage->acquire();
    QStringList runtimeArguments;
    if (request.versions)
        runtimeArguments = engineRunOptions(*request.versions, request.executable, request.runtimes)
                               .runtimeArguments;
    ProcessRequest process;
    process.program = request.executable;
    process.arguments = EngineArguments::analysis(request.link, request.mode, runtimeArguments);
    process.keepStandardOutput = true;
    process.groups = request.processGroups;
    const ProcessResult result =
        runProcessToEnd(process, [&attempt](const std::shared_ptr<ProcessControl> &control) {
            attempt.attach(control);
        });
    return decideAnalysis(request, result);
}

AnalysisOutcome decideAnalysis(const AnalysisRequest &request, const ProcessResult &result)
{
    using Kind = AnalysisOutcome::Kind;
    AnalysisOutcome outcome;
    outcome.mode = request.mode;
    outcome.allowAutomaticRepair = request.allowAutomaticRepair;
    outcome.diagnostic = result.diagnostic;
    if (result.cancelled) {
        outcome.kind = Kind::Cancelled;
        return outcome;
    }
    if (!result.launched) {
        outcome.kind = Kind::GenericFailure;
        outcome.errorText = result.launchError;
        return outcome;
    }
    if (result.outputLimitExceeded) {
        // A channel or feed link can describe thousands of videos; such a document is not
        // a single publication the picker could show.
        outcome.kind = Kind::GenericFailure;
        outcome.errorText =
            QStringLiteral("Платформа вернула слишком большое описание ссылки (больше 64 МБ).");
        return outcome;
    }
    if (result.succeeded()) {
        Result<VideoMetadata> decoded = decodeVideoMetadata(result.standardOutput);
        if (!decoded.ok()) {
            outcome.kind = Kind::GenericFailure;
            outcome.errorText = decoded.error().message;
            return outcome;
        }
        outcome.kind = Kind::Success;
        outcome.metadata = std::move(decoded).value();
        return outcome;
    }
    const QString &diagnostic = result.diagnostic;
    if (request.isYouTube) {
        if (request.mode == VideoAccessMode::Standard
            && DownloadFailure::requiresYouTubeFallback(diagnostic)) {
            outcome.kind = Kind::Fallback;
            outcome.nextMode = VideoAccessMode::YouTubeEmbedded;
            return outcome;
        }
        if (request.mode == VideoAccessMode::YouTubeEmbedded) {
            outcome.kind = Kind::Fallback;
            outcome.nextMode = VideoAccessMode::YouTubeMobile;
            return outcome;
        }
    }
    if (request.allowAutomaticRepair && DownloadFailure::requiresEngineRefresh(diagnostic)) {
        outcome.kind = Kind::Repair;
        return outcome;
    }
    outcome.kind = Kind::EngineFailure;
    return outcome;
}
