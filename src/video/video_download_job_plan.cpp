// The plan of a VideoDownloadJob: straight-line code on the job's worker thread that blocks in
// the engine and FFmpeg runs and reports to the job with queued calls only.

#include "video/video_download_job.h"

#include "app/file_names.h"
#include "app/platform/system_clock.h"
#include "app/process/process_runner.h"
#include "engine/engine_arguments.h"
#include "engine/tool_folder_usage.h"
#include "video/download_failure.h"
#include "video/ffmpeg_locator.h"
#include "video/media_merger.h"
#include "video/work_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace {

// The title is bounded in bytes so that "TITLE [ID].EXT" plus the engine's own ".part" and
// ".ytdl" suffixes and our " (n)" stay within the 255 bytes a Linux name may have.
const QString kDirectTemplate = QStringLiteral("%(title).150B [%(id).64B].%(ext)s");

// Shown instead of any other explanation when the destination's disk is full: the user can act
// on it, and the engine's or FFmpeg's own words would say nothing to them.
const QString kDiskFull = QStringLiteral("На диске закончилось место");

// The engine (Python) and FFmpeg report a full disk in the C library's words.
bool saysDiskFull(const QString &text)
{
    return text.contains(QLatin1String("No space left on device"), Qt::CaseInsensitive)
           || text.contains(QLatin1String("[Errno 28]"));
}

bool isLeftover(const QString &name)
{
    return WorkFolder::isLockFile(name) || name.endsWith(QLatin1String(".part"))
           || name.endsWith(QLatin1String(".ytdl")) || name.contains(QLatin1String(".part-Frag"))
           || name.endsWith(QLatin1String(".temp"));
}

// What the engine produced in an otherwise empty work folder: the largest finished file
// (after a conversion to m4a the engine has already removed the original).
std::optional<QString> producedFile(const QString &workDir)
{
    const QFileInfoList files =
        QDir(workDir).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    std::optional<QFileInfo> best;
    for (const QFileInfo &file : files) {
        if (isLeftover(file.fileName()))
            continue;
        if (!best || file.size() > best->size())
            best = file;
    }
    if (!best)
        return std::nullopt;
    return best->absoluteFilePath();
}

// A failed engine run: stopped by us, not started at all (ending as `launchEnding`), or failed
// with the engine's own words.
VideoPlanResult engineFailure(const ProcessResult &result, VideoJobEnding launchEnding,
                              const QString &signInBrowser)
{
    if (result.cancelled)
        return {};
    if (!result.launched)
        return VideoPlanResult::failed(launchEnding, result.launchError, ErrorKind::Process);
    if (saysDiskFull(result.diagnostic))
        return VideoPlanResult::failed(VideoJobEnding::DownloadFailed, kDiskFull,
                                       ErrorKind::FileSystem);
    // A child killed by the system (not by us) is a failure like any other.
    return VideoPlanResult::failed(VideoJobEnding::DownloadFailed,
                                   DownloadFailure::explanation(result.diagnostic, signInBrowser),
                                   ErrorKind::Process);
}

// The document goes into a folder of its own: the engine's output is picked from the files of
// the work folder itself.
std::optional<QString> writeDocument(const QString &workDir, const QByteArray &document)
{
    const QString folder = QDir(workDir).filePath(QStringLiteral("analysis"));
    QFile file(QDir(folder).filePath(QStringLiteral("video.info.json")));
    if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly)
        || file.write(document) != document.size() || !file.flush())
        return std::nullopt;
    return file.fileName();
}

} // namespace

VideoPlanResult VideoDownloadJob::runPlan(const CancelToken &token)
{
    const bool merged = m_description.plan.kind == VideoJobPlan::Kind::Merged;
    EngineRunOptions options;
    if (m_environment.versions && !token.isCancelled())
        options = engineRunOptions(*m_environment.versions, m_executable, m_environment.runtimes);

    if (token.isCancelled())
        return {};
    const WorkFolder work(m_description.folder, m_id);
    if (work.error() != 0) {
        return VideoPlanResult::failed(
            merged ? VideoJobEnding::MergeFailed : VideoJobEnding::LaunchFailed,
            isDiskFull(work.error())
                ? kDiskFull
                : QStringLiteral("Не удалось создать рабочую папку в выбранной папке."),
            ErrorKind::FileSystem);
    }
    // Partial tracks, ".part" files and an unfinished or unwanted merge all live in the work
    // folder, which goes when `work` does; nothing of the job's is left unless it finished.
    return merged ? runMerged(work.path(), options, token) : runDirect(work.path(), options, token);
}

Result<QString> VideoDownloadJob::place(const QString &source, const QString &destination,
                                        const CancelToken &token)
{
    // A cancel that comes before the file has its final name wins; one that comes after finds
    // the job done.
    if (m_environment.beforeFinalRename)
        m_environment.beforeFinalRename(false);
    std::lock_guard lock(m_placing);
    if (token.isCancelled())
        return CancelToken::stopped();
    if (m_environment.beforeFinalRename)
        m_environment.beforeFinalRename(true);
    for (int n = 1; n <= 9999; ++n) {
        const QString candidate = n == 1 ? destination : numberedFile(destination, n);
        // The work folder is inside the destination folder: a rename, never a copy.
        const int error = renameWithoutReplacing(source, candidate);
        if (error == 0)
            return candidate;
        if (isDiskFull(error))
            return AppError(kDiskFull, ErrorKind::FileSystem);
        if (error != EEXIST)
            break;
    }
    return AppError(QStringLiteral("Не удалось сохранить файл «%1» в выбранной папке.")
                        .arg(QFileInfo(destination).fileName()),
                    ErrorKind::FileSystem);
}

ProcessResult VideoDownloadJob::runEngine(EngineArguments::DownloadRun run,
                                          const EngineRunOptions &options, VideoJobStage stage)
{
    // Written on the job's first run, into the work folder its output goes to. The document
    // only spares an extraction: without it the engine starts from the link.
    if (m_fromDocument) {
        m_fromDocument = false;
        m_documentFile = writeDocument(QFileInfo(run.output).path(), m_description.document);
    }
    run.infoJson = m_documentFile;
    ProcessResult result = runEngineOnce(run, options, stage);
    // The host refused a media link of the document (expired, or bound to what it no longer
    // accepts): the link gives fresh ones, for this run and the rest of the job.
    if (m_documentFile && result.launched && !result.cancelled && !result.succeeded()
        && DownloadFailure::mediaLinkRefused(result.diagnostic)) {
        m_documentFile.reset();
        run.infoJson.reset();
        result = runEngineOnce(run, options, stage);
    }
    return result;
}

ProcessResult VideoDownloadJob::runEngineOnce(const EngineArguments::DownloadRun &run,
                                              const EngineRunOptions &options, VideoJobStage stage)
{
    // Stamped before the stage's process starts, so that every line of the previous stage is
    // older and every line of this one newer.
    const double at = monotonicNow();
    m_work.post([this, stage, at] { beginStage(stage, at); });

    ToolFolderUsage::Lease lease;
    if (m_environment.engineFolderUsage)
        lease = m_environment.engineFolderUsage->acquire();
    ProcessRequest request;
    request.program = m_executable;
    EngineArguments::DownloadRun withRuntime = run;
    withRuntime.runtimeArguments = options.runtimeArguments;
    request.arguments = EngineArguments::download(withRuntime, options.engine);
    request.progressMarker = QByteArray(EngineArguments::kProgressMarker.data(),
                                        EngineArguments::kProgressMarker.size());
    request.progressIntervalSeconds = options.engine.ownProgressIntervalSeconds();
    request.groups = m_environment.processGroups;
    request.workingDirectory = QFileInfo(run.output).absolutePath();
    const ProcessResult result = runProcessToEnd(
        request,
        [this](const std::shared_ptr<ProcessControl> &control) {
            m_child.attach(control, RunningChild::Kind::Engine);
        },
        [this](const QString &line, double readAt) {
            m_work.post([this, line, readAt] { takeProgressLine(line, readAt); });
        });
    m_child.detach();
    return result;
}

Status VideoDownloadJob::merge(const QString &video, const QString &audio, const QString &output)
{
    MediaMerger::Setup setup;
    setup.ffmpegCandidates = m_environment.ffmpegCandidates;
    setup.processGroups = m_environment.processGroups;
    setup.started = [this](const std::shared_ptr<ProcessControl> &control) {
        m_child.attach(control, RunningChild::Kind::Merge);
    };
    const Status status = MediaMerger::merge(video, audio, output, setup);
    m_child.detach();
    return status;
}

VideoPlanResult VideoDownloadJob::runDirect(const QString &workDir, const EngineRunOptions &options,
                                            const CancelToken &token)
{
    const VideoJobPlan &plan = m_description.plan;
    EngineArguments::DownloadRun run;
    run.kind = EngineArguments::DownloadRun::Kind::SingleStep;
    run.format = plan.format;
    run.output = QDir(workDir).filePath(kDirectTemplate);
    run.extraArguments = m_description.extractorArguments;
    run.link = m_description.input;
    if (plan.extractAudio) {
        if (const auto ffmpeg = FFmpeg::executablePath(m_environment.ffmpegCandidates))
            run.extractAudioWithFFmpegIn = QFileInfo(*ffmpeg).absolutePath();
    }
    const ProcessResult result = runEngine(run, options, VideoJobStage::Downloading);
    if (!result.succeeded())
        return engineFailure(result, VideoJobEnding::LaunchFailed, m_description.signInBrowser);
    if (token.isCancelled())
        return {};

    const std::optional<QString> produced = producedFile(workDir);
    if (!produced)
        return VideoPlanResult::failed(VideoJobEnding::DownloadFailed,
                                       DownloadFailure::explanation(result.diagnostic),
                                       ErrorKind::Process);
    const Result<QString> placed = place(
        *produced, QDir(m_description.folder).filePath(QFileInfo(*produced).fileName()), token);
    if (!placed.ok())
        return token.isCancelled()
                   ? VideoPlanResult()
                   : VideoPlanResult::failed(VideoJobEnding::DownloadFailed, placed.error().message,
                                             placed.error().kind);
    return VideoPlanResult::placed(VideoJobEnding::Downloaded, placed.value());
}

VideoPlanResult VideoDownloadJob::runMerged(const QString &workDir, const EngineRunOptions &options,
                                            const CancelToken &token)
{
    const VideoJobPlan &plan = m_description.plan;
    const QDir work(workDir);
    const QString videoPath = work.filePath(QStringLiteral("video.") + plan.video.ext);
    const QString audioPath = work.filePath(QStringLiteral("audio.m4a"));

    EngineArguments::DownloadRun run;
    run.kind = EngineArguments::DownloadRun::Kind::Track;
    run.extraArguments = m_description.extractorArguments;
    run.link = m_description.input;
    run.format = plan.video.formatID;
    run.output = videoPath;
    ProcessResult result = runEngine(run, options, VideoJobStage::VideoTrack);
    if (!result.succeeded())
        return engineFailure(result, VideoJobEnding::MergeFailed, m_description.signInBrowser);
    if (token.isCancelled())
        return {};
    run.format = plan.audioFormat;
    run.output = audioPath;
    result = runEngine(run, options, VideoJobStage::SoundTrack);
    if (!result.succeeded())
        return engineFailure(result, VideoJobEnding::MergeFailed, m_description.signInBrowser);
    if (token.isCancelled())
        return {};

    m_work.post([this] { beginMerge(); });
    // FFmpeg writes into the work folder (it picks the container from the extension); the
    // result is moved into the user's folder only when it is complete.
    const QString extension = QFileInfo(plan.destination).suffix();
    QString merged = work.filePath(QStringLiteral("merged.") + extension);
    bool asMKV = false;
    Status status = merge(videoPath, audioPath, merged);
    if (!status.ok() && !token.isCancelled() && extension.toLower() == QLatin1String("mp4")) {
        QFile::remove(merged);
        merged = work.filePath(QStringLiteral("merged.mkv"));
        asMKV = true;
        status = merge(videoPath, audioPath, merged);
    }
    // A merge that a cancel let finish is removed with the work folder.
    if (token.isCancelled())
        return {};
    if (!status.ok() && saysDiskFull(status.error().message))
        return VideoPlanResult::failed(VideoJobEnding::MergeFailed, kDiskFull,
                                       ErrorKind::FileSystem);
    if (!status.ok())
        return VideoPlanResult::failed(VideoJobEnding::MergeFailed, status.error().message,
                                       status.error().kind);

    const QString target =
        asMKV ? MediaMerger::availableMKVURL(plan.destination) : plan.destination;
    const Result<QString> placed = place(merged, target, token);
    if (!placed.ok())
        return token.isCancelled()
                   ? VideoPlanResult()
                   : VideoPlanResult::failed(VideoJobEnding::MergeFailed, placed.error().message,
                                             placed.error().kind);
    return VideoPlanResult::placed(asMKV ? VideoJobEnding::MergedAsMKV : VideoJobEnding::Merged,
                                   placed.value());
}
