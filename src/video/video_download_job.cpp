#include "video/video_download_job.h"

#include "app/platform/clock.h"
#include "app/platform/system_clock.h"
#include "video/video_progress.h"

#include <QFileInfo>

namespace {

// An analysis's document lists each format's media link, which the host signs for a limited
// time (hours on YouTube). Within this age a job downloads from it instead of extracting the
// video again: no page load, player download or challenge per job, and no rate limit invited.
constexpr double kDocumentLifetimeSeconds = 30 * 60;

} // namespace

VideoDownloadJob::VideoDownloadJob(Description description, VideoJobEnvironment environment,
                                   QObject *parent)
    : Job(parent), m_description(std::move(description)), m_environment(std::move(environment)),
      m_outputPath(m_description.outputPath)
{
    m_refresh.setInterval(m_environment.refreshIntervalMs);
    connect(&m_refresh, &QTimer::timeout, this, &VideoDownloadJob::refreshProgress);
    // Connected before anyone else, so the state has caught up whenever a listener hears of a
    // new job state.
    connect(this, &Job::stateChanged, this, &VideoDownloadJob::jobStateChanged);
}

VideoDownloadJob::~VideoDownloadJob()
{
    // A merge is stopped too; the worker then unwinds and removes its work folder while
    // m_work waits for it.
    m_work.stop();
    m_child.stopAll();
}

VideoJobPhase VideoDownloadJob::phase() const
{
    switch (state()) {
    case JobState::Pending:
        return VideoJobPhase::Queued;
    case JobState::Running:
    case JobState::Paused:
        return VideoJobPhase::Running;
    case JobState::Finished:
        break;
    }
    switch (result()->outcome) {
    case Outcome::Succeeded:
        return VideoJobPhase::Completed;
    case Outcome::Failed:
        return VideoJobPhase::Failed;
    case Outcome::Cancelled:
        break;
    }
    return VideoJobPhase::Canceled;
}

void VideoDownloadJob::jobStateChanged(JobState state)
{
    if (state == JobState::Running && m_state.stage == VideoJobStage::Queued) {
        beginStage(VideoJobStage::Preparing, monotonicNow());
    } else if (state == JobState::Finished) {
        m_refresh.stop();
        if (m_state.stage != VideoJobStage::Ended) {
            // Only a job cancelled before it started ends without going through end().
            m_state.stage = VideoJobStage::Ended;
            m_state.ending = VideoJobEnding::RemovedFromQueue;
        }
        emit videoStateChanged(m_state);
    }
}

QString VideoDownloadJob::cancelMessage() const
{
    return QStringLiteral("Загрузка отменена");
}

JobResult VideoDownloadJob::cancelledBeforeStart() const
{
    return JobResult::cancelled(QStringLiteral("Убрано из очереди"));
}

void VideoDownloadJob::run()
{
    // A cancel between start() and this first turn of the event loop.
    if (isCancelRequested()) {
        end(VideoPlanResult());
        return;
    }
    m_fromDocument = !m_description.document.isEmpty() && m_environment.clock
                     && m_environment.clock->monotonicSeconds() - m_description.analysedAt
                            <= kDocumentLifetimeSeconds;
    m_work.start([this](const CancelToken &token) { return runPlan(token); },
                 [this](const VideoPlanResult &ending) { end(ending); });
}

void VideoDownloadJob::onCancel()
{
    m_state.stage = VideoJobStage::Cancelling;
    m_refresh.stop();
    {
        std::lock_guard lock(m_placing);
        m_work.stop();
    }
    m_child.stopEngine();
    publish();
}

void VideoDownloadJob::publish()
{
    setProgress(m_state.progress);
    emit videoStateChanged(m_state);
}

void VideoDownloadJob::beginStage(VideoJobStage stage, double at)
{
    // After a cancel the row keeps "Отменяю…" and what it showed until the plan unwinds.
    if (state() != JobState::Running || isCancelRequested())
        return;
    m_downloadedBytes = 0;
    m_expectedBytes.reset();
    m_stageStartedAt = at;
    m_lastLineAt = at;
    m_rateMeter.reset(at);
    m_state.stage = stage;
    m_state.progress = Progress();
    m_state.lastKnownFraction = 0;
    m_refresh.start();
    publish();
}

void VideoDownloadJob::beginMerge()
{
    if (state() != JobState::Running)
        return;
    m_refresh.stop();
    // The bar keeps the last track's progress while FFmpeg runs.
    m_state.merge = MergeNote{QFileInfo(m_description.plan.destination).suffix().toUpper(),
                              m_description.plan.video.videoCodecLabel()};
    if (!isCancelRequested())
        m_state.stage = VideoJobStage::Merging;
    publish();
}

void VideoDownloadJob::takeProgressLine(const QString &line, double readAt)
{
    // Lines read before the current stage began, or overtaken by a newer one, are stale.
    if (state() != JobState::Running || m_stageStartedAt > readAt || m_lastLineAt > readAt)
        return;
    const std::optional<VideoProgressSnapshot> snapshot = parseProgressLine(line);
    if (!snapshot)
        return;
    m_lastLineAt = readAt;
    // The engine moved on to another file: its count starts again from zero.
    if (snapshot->downloadedBytes < m_downloadedBytes)
        m_rateMeter.reset(readAt);
    m_downloadedBytes = snapshot->downloadedBytes;
    m_expectedBytes = snapshot->totalBytes;
    m_rateMeter.record(QStringLiteral("media"), m_downloadedBytes, readAt);
    // A finished file shows full progress without waiting for the next refresh.
    if (m_expectedBytes && m_downloadedBytes >= *m_expectedBytes)
        refreshProgress();
}

void VideoDownloadJob::refreshProgress()
{
    if (state() != JobState::Running || isCancelRequested() || m_downloadedBytes < 1)
        return;
    Progress progress;
    progress.doneBytes = m_downloadedBytes;
    progress.totalBytes = m_expectedBytes.value_or(-1);
    progress.bytesPerSecond = m_rateMeter.bytesPerSecond(monotonicNow());
    m_state.progress = progress;
    if (const std::optional<double> fraction = progress.fraction())
        m_state.lastKnownFraction = *fraction;
    publish();
}

void VideoDownloadJob::end(const VideoPlanResult &result)
{
    if (!result.outputPath.isEmpty())
        m_outputPath = result.outputPath;
    // finish() announces the ended state (jobStateChanged), before finished() is emitted.
    m_state.stage = VideoJobStage::Ended;
    switch (result.ending) {
    case VideoJobEnding::Downloaded:
    case VideoJobEnding::Merged:
    case VideoJobEnding::MergedAsMKV:
        m_state.ending = result.ending;
        finish(JobResult::succeeded(videoJobStatus(m_state)));
        return;
    case VideoJobEnding::RemovedFromQueue:
    case VideoJobEnding::Cancelled:
        break;
    case VideoJobEnding::DownloadFailed:
    case VideoJobEnding::LaunchFailed:
    case VideoJobEnding::MergeFailed:
        // Whatever went wrong while stopping, the user asked to stop.
        if (isCancelRequested())
            break;
        m_state.ending = result.ending;
        m_state.failure = result.failure;
        finish(JobResult::failed(result.failure, result.kind));
        return;
    }
    m_state.ending = VideoJobEnding::Cancelled;
    finish(JobResult::cancelled(cancelMessage()));
}
