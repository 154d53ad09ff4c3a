#include "video/engine_analysis.h"

#include "engine/tool_folder_usage.h"
#include "video/download_failure.h"

void EngineRunStop::request()
{
    std::lock_guard lock(m_mutex);
    m_requested = true;
    if (m_control)
        m_control->cancel();
}

void EngineRunStop::attach(const std::shared_ptr<ProcessControl> &control)
{
    std::lock_guard lock(m_mutex);
    m_control = control;
    if (m_requested)
        control->cancel();
}

AnalysisVerdict runEngineAnalysis(const AnalysisRequest &request, EngineRunStop &stop)
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
    const ProcessResult result = runProcessToEnd(
        process, [&stop](const std::shared_ptr<ProcessControl> &control) { stop.attach(control); });
    return decideAnalysis(request, result);
}

AnalysisVerdict decideAnalysis(const AnalysisRequest &request, const ProcessResult &result)
{
    using Kind = AnalysisVerdict::Kind;
    AnalysisVerdict verdict;
    verdict.diagnostic = result.diagnostic;
    if (result.cancelled) {
        verdict.kind = Kind::Cancelled;
        return verdict;
    }
    if (!result.launched) {
        verdict.kind = Kind::GenericFailure;
        verdict.errorText = result.launchError;
        return verdict;
    }
    if (result.outputLimitExceeded) {
        // A channel or feed link can describe thousands of videos; such a document is not
        // a single publication the picker could show.
        verdict.kind = Kind::GenericFailure;
        verdict.errorText =
            QStringLiteral("Платформа вернула слишком большое описание ссылки (больше 64 МБ).");
        return verdict;
    }
    if (result.succeeded()) {
        Result<VideoMetadata> decoded = decodeVideoMetadata(result.standardOutput);
        if (!decoded.ok()) {
            verdict.kind = Kind::GenericFailure;
            verdict.errorText = decoded.error().message;
            return verdict;
        }
        verdict.kind = Kind::Success;
        verdict.metadata = std::move(decoded).value();
        return verdict;
    }
    const QString &diagnostic = result.diagnostic;
    if (request.isYouTube) {
        if (request.mode == VideoAccessMode::Standard
            && DownloadFailure::requiresYouTubeFallback(diagnostic)) {
            verdict.kind = Kind::Fallback;
            verdict.nextMode = VideoAccessMode::YouTubeEmbedded;
            return verdict;
        }
        if (request.mode == VideoAccessMode::YouTubeEmbedded) {
            verdict.kind = Kind::Fallback;
            verdict.nextMode = VideoAccessMode::YouTubeMobile;
            return verdict;
        }
    }
    if (request.allowAutomaticRepair && DownloadFailure::requiresEngineRefresh(diagnostic)) {
        verdict.kind = Kind::Repair;
        return verdict;
    }
    verdict.kind = Kind::EngineFailure;
    return verdict;
}
