#include "video/engine_analysis.h"

#include "engine/tool_folder_usage.h"
#include "video/download_failure.h"

AnalysisVerdict runEngineAnalysis(const AnalysisRequest &request, RunningChild &child)
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
    process.arguments = EngineArguments::analysis(request.link, request.mode,
                                                  runtimeArguments + request.signInArguments);
    process.keepStandardOutput = true;
    process.groups = request.processGroups;
    const ProcessResult result =
        runProcessToEnd(process, [&child](const std::shared_ptr<ProcessControl> &control) {
            child.attach(control, RunningChild::Kind::Engine);
        });
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
        verdict.document = result.standardOutput;
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
