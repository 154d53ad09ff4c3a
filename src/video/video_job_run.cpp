#include "video/video_job_run.h"

#include "app/platform/system_clock.h"
#include "engine/tool_folder_usage.h"
#include "video/download_failure.h"
#include "app/file_names.h"
#include "video/ffmpeg_locator.h"
#include "video/media_merger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The title is bounded in bytes so that "TITLE [ID].EXT" plus the engine's own ".part" and
// ".ytdl" suffixes and our " (n)" stay within the 255 bytes a Linux name may have.
const QString kDirectTemplate = QStringLiteral("%(title).150B [%(id).64B].%(ext)s");

bool isLeftover(const QString &name)
{
    return name.endsWith(QLatin1String(".part")) || name.endsWith(QLatin1String(".ytdl"))
           || name.contains(QLatin1String(".part-Frag")) || name.endsWith(QLatin1String(".temp"));
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

} // namespace

VideoJobRun::VideoJobRun(VideoDownloadJob *job, VideoDownloadJob::Description description,
                         VideoJobEnvironment environment, QString executable)
    : m_job(job), m_description(std::move(description)), m_environment(std::move(environment)),
      m_executable(std::move(executable)),
      m_jobId(job->id().toString(QUuid::WithoutBraces).toUpper())
{
}

void VideoJobRun::requestCancel()
{
    m_cancel.cancel();
    std::lock_guard lock(m_mutex);
    if (m_control && !m_controlIsMerge)
        m_control->cancel();
}

void VideoJobRun::stopEverything()
{
    m_cancel.cancel();
    std::lock_guard lock(m_mutex);
    m_stopEverything = true;
    if (m_control)
        m_control->cancel();
}

void VideoJobRun::attach(const std::shared_ptr<ProcessControl> &control, bool isMerge)
{
    std::lock_guard lock(m_mutex);
    m_control = control;
    m_controlIsMerge = isMerge;
    // A cancel that came before the child existed is remembered by the control and carried
    // out right after the launch.
    if (m_stopEverything || (!isMerge && m_cancel.isCancelled()))
        control->cancel();
}

void VideoJobRun::detach()
{
    std::lock_guard lock(m_mutex);
    m_control.reset();
}

void VideoJobRun::beginStage(const QString &status)
{
    // Stamped here, before the stage's process starts, so that every line of the previous
    // stage is older and every line of this one newer.
    const double at = monotonicNow();
    VideoDownloadJob *job = m_job;
    QMetaObject::invokeMethod(
        job, [job, status, at] { job->beginStage(status, at); }, Qt::QueuedConnection);
}

void VideoJobRun::execute()
{
    if (m_environment.versions && !cancelled())
        m_runOptions =
            engineRunOptions(*m_environment.versions, m_executable, m_environment.runtimes);

    const QString workDir = QDir(m_environment.tempFolder).filePath(m_jobId);
    Ending ending;
    if (cancelled()) {
        ending = cancelledEnding();
    } else if (!QDir().mkpath(workDir)) {
        ending.phase = VideoJobPhase::Failed;
        ending.status = m_description.plan.kind == VideoJobPlan::Kind::Merged
                            ? QStringLiteral("Не удалось объединить видео и звук")
                            : QStringLiteral("Ошибка запуска");
        ending.error = QStringLiteral("Не удалось создать рабочую папку во временной папке.");
    } else if (m_description.plan.kind == VideoJobPlan::Kind::Merged) {
        ending = runMerged(workDir);
    } else {
        ending = runDirect(workDir);
    }
    // Partial tracks, ".part" files and an unfinished merge all live here; nothing of the
    // job's is left in the user's folder unless it finished.
    QDir(workDir).removeRecursively();

    VideoDownloadJob *job = m_job;
    QMetaObject::invokeMethod(
        job,
        [job, ending] {
            job->workerEnded(ending.phase, ending.status, ending.error, ending.outputPath);
        },
        Qt::QueuedConnection);
}

VideoJobRun::Ending VideoJobRun::cancelledEnding()
{
    return {VideoJobPhase::Canceled, QStringLiteral("Загрузка отменена"), std::nullopt,
            std::nullopt};
}

ProcessResult VideoJobRun::runEngine(EngineArguments::DownloadRun run)
{
    ToolFolderUsage::Lease lease;
    if (m_environment.engineFolderUsage)
        lease = m_environment.engineFolderUsage->acquire();
    ProcessRequest request;
    request.program = m_executable;
    run.runtimeArguments = m_runOptions.runtimeArguments;
    request.arguments = EngineArguments::download(run, m_runOptions.engine);
    request.progressMarker = QByteArray(EngineArguments::kProgressMarker.data(),
                                        EngineArguments::kProgressMarker.size());
    request.progressIntervalSeconds = m_runOptions.engine.ownProgressIntervalSeconds();
    request.groups = m_environment.processGroups;
    VideoDownloadJob *job = m_job;
    const ProcessResult result = runProcessToEnd(
        request, [this](const std::shared_ptr<ProcessControl> &control) { attach(control, false); },
        [job](const QString &line, double readAt) {
            QMetaObject::invokeMethod(
                job, [job, line, readAt] { job->processProgressLine(line, readAt); },
                Qt::QueuedConnection);
        });
    detach();
    return result;
}

VideoJobRun::Ending VideoJobRun::engineFailure(const ProcessResult &result,
                                               const QString &launchStatus) const
{
    if (result.cancelled)
        return cancelledEnding();
    if (!result.launched)
        return {VideoJobPhase::Failed, launchStatus, result.launchError, std::nullopt};
    // A child killed by the system (not by us) is a failure like any other.
    return {VideoJobPhase::Failed, QStringLiteral("Не удалось скачать файл"),
            DownloadFailure::explanation(result.diagnostic), std::nullopt};
}

VideoJobRun::Ending VideoJobRun::runDirect(const QString &workDir)
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
    const ProcessResult result = runEngine(run);
    if (!result.succeeded())
        return engineFailure(result, QStringLiteral("Ошибка запуска"));
    if (cancelled())
        return cancelledEnding();

    const std::optional<QString> produced = producedFile(workDir);
    if (!produced) {
        return {VideoJobPhase::Failed, QStringLiteral("Не удалось скачать файл"),
                DownloadFailure::explanation(result.diagnostic), std::nullopt};
    }
    const QString target = QDir(m_description.folder).filePath(QFileInfo(*produced).fileName());
    const Result<QString> placed = placeFile(*produced, target);
    if (!placed.ok())
        return {VideoJobPhase::Failed, QStringLiteral("Не удалось скачать файл"),
                placed.error().message, std::nullopt};
    return {VideoJobPhase::Completed, QStringLiteral("Готово — файл в выбранной папке"),
            std::nullopt, placed.value()};
}

Status VideoJobRun::mergeInto(const QString &video, const QString &audio, const QString &output)
{
    MediaMerger::Setup setup;
    setup.ffmpegCandidates = m_environment.ffmpegCandidates;
    setup.processGroups = m_environment.processGroups;
    setup.started = [this](const std::shared_ptr<ProcessControl> &control) {
        attach(control, true);
    };
    const Status status = MediaMerger::merge(video, audio, output, setup);
    detach();
    return status;
}

VideoJobRun::Ending VideoJobRun::runMerged(const QString &workDir)
{
    const VideoJobPlan &plan = m_description.plan;
    const QDir work(workDir);
    const QString videoPath = work.filePath(QStringLiteral("video.") + plan.video.ext);
    const QString audioPath = work.filePath(QStringLiteral("audio.m4a"));
    const QString mergeFailed = QStringLiteral("Не удалось объединить видео и звук");

    EngineArguments::DownloadRun run;
    run.kind = EngineArguments::DownloadRun::Kind::Track;
    run.extraArguments = m_description.extractorArguments;
    run.link = m_description.input;

    beginStage(QStringLiteral("Скачиваю видеодорожку…"));
    run.format = plan.video.formatID;
    run.output = videoPath;
    ProcessResult result = runEngine(run);
    if (!result.succeeded())
        return engineFailure(result, mergeFailed);
    if (cancelled())
        return cancelledEnding();

    beginStage(QStringLiteral("Скачиваю звуковую дорожку…"));
    run.format = plan.audioFormat;
    run.output = audioPath;
    result = runEngine(run);
    if (!result.succeeded())
        return engineFailure(result, mergeFailed);
    if (cancelled())
        return cancelledEnding();

    const QString codec = plan.video.videoCodecLabel();
    const QString extension = QFileInfo(plan.destination).suffix();
    {
        const QString detail = extension.toUpper() + QStringLiteral(" · ") + codec
                               + QStringLiteral(" · без перекодирования");
        VideoDownloadJob *job = m_job;
        QMetaObject::invokeMethod(
            job, [job, detail] { job->beginMergeStage(detail); }, Qt::QueuedConnection);
    }

    // FFmpeg writes into the work folder (it picks the container from the extension); the
    // result is moved into the user's folder only when it is complete.
    QString merged = work.filePath(QStringLiteral("merged.") + extension);
    bool fellBackToMKV = false;
    Status status = mergeInto(videoPath, audioPath, merged);
    if (!status.ok() && !cancelled() && extension.toLower() == QLatin1String("mp4")) {
        QFile::remove(merged);
        merged = work.filePath(QStringLiteral("merged.mkv"));
        fellBackToMKV = true;
        status = mergeInto(videoPath, audioPath, merged);
    }
    if (!status.ok()) {
        if (cancelled())
            return cancelledEnding();
        return {VideoJobPhase::Failed, mergeFailed, status.error().message, std::nullopt};
    }
    if (cancelled())
        return cancelledEnding();

    const QString target =
        fellBackToMKV ? MediaMerger::availableMKVURL(plan.destination) : plan.destination;
    const Result<QString> placed = placeFile(merged, target);
    if (!placed.ok())
        return {VideoJobPhase::Failed, mergeFailed, placed.error().message, std::nullopt};
    const QString finalPath = placed.value();
    const QString text =
        fellBackToMKV
            ? QStringLiteral("Готово — MKV · ") + codec + QStringLiteral(" (MP4 не поддерживается)")
            : QStringLiteral("Готово — ") + QFileInfo(finalPath).suffix().toUpper()
                  + QStringLiteral(" · ") + codec;
    return {VideoJobPhase::Completed, text, std::nullopt, finalPath};
}
