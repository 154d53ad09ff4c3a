#include "video/video_download_job.h"

#include "app/byte_format.h"
#include "app/platform/system_clock.h"
#include "video/video_job_run.h"
#include "video/video_progress.h"

#include <QThread>
#include <QTimer>

VideoDownloadJob::VideoDownloadJob(Description description, VideoJobEnvironment environment,
                                   QObject *parent)
    : QObject(parent), m_description(std::move(description)), m_environment(std::move(environment)),
      m_outputPath(m_description.outputPath), m_status(QStringLiteral("В очереди"))
{
}

VideoDownloadJob::~VideoDownloadJob()
{
    if (m_worker) {
        m_run->stopEverything();
        m_worker->wait();
        delete m_worker;
    }
}

void VideoDownloadJob::start(const QString &executable)
{
    if (m_phase != VideoJobPhase::Queued)
        return;
    setPhase(VideoJobPhase::Running);
    beginStage(QStringLiteral("Подготавливаю загрузку…"), monotonicNow());
    m_run = std::make_shared<VideoJobRun>(this, m_description, m_environment, executable);
    m_worker = QThread::create([run = m_run] { run->execute(); });
    m_worker->start();
}

void VideoDownloadJob::cancel()
{
    switch (m_phase) {
    case VideoJobPhase::Queued:
        finish(VideoJobPhase::Canceled, QStringLiteral("Убрано из очереди"), std::nullopt);
        return;
    case VideoJobPhase::Running:
        m_cancellationRequested = true;
        setStatus(QStringLiteral("Отменяю…"));
        if (m_run)
            m_run->requestCancel();
        return;
    default:
        return;
    }
}

void VideoDownloadJob::beginStage(const QString &status, double at)
{
    if (m_phase != VideoJobPhase::Running)
        return;
    stopRefreshLoop();
    setProgress(0);
    setDetail(QString());
    m_downloadedBytes = 0;
    m_expectedBytes.reset();
    m_stageStartedAt = at;
    m_lastProgressTimestamp = at;
    m_rateMeter.reset(at);
    // A cancel already asked for keeps its "Отменяю…" until the run unwinds.
    if (!m_cancellationRequested)
        setStatus(status);
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(m_environment.refreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &VideoDownloadJob::refreshDownloadProgress);
    m_refreshTimer->start();
}

void VideoDownloadJob::beginMergeStage(const QString &detail)
{
    if (m_phase != VideoJobPhase::Running)
        return;
    stopRefreshLoop();
    if (!m_cancellationRequested)
        setStatus(QStringLiteral("Объединяю видео и звук…"));
    setDetail(detail);
}

void VideoDownloadJob::stopRefreshLoop()
{
    if (m_refreshTimer) {
        m_refreshTimer->stop();
        m_refreshTimer->deleteLater();
        m_refreshTimer = nullptr;
    }
}

void VideoDownloadJob::processProgressLine(const QString &line, double readAt)
{
    if (m_phase != VideoJobPhase::Running || m_stageStartedAt > readAt
        || m_lastProgressTimestamp > readAt)
        return;
    const std::optional<VideoProgressSnapshot> snapshot = parseProgressLine(line);
    if (!snapshot)
        return;
    m_lastProgressTimestamp = readAt;
    // The engine moved on to another file: its count starts again from zero.
    if (snapshot->downloadedBytes < m_downloadedBytes)
        m_rateMeter.reset(readAt);
    m_downloadedBytes = snapshot->downloadedBytes;
    m_expectedBytes = snapshot->totalBytes;
    m_rateMeter.record(QStringLiteral("media"), m_downloadedBytes, readAt);
    if (m_expectedBytes && m_downloadedBytes >= *m_expectedBytes)
        refreshDownloadProgress();
}

void VideoDownloadJob::refreshDownloadProgress()
{
    if (m_phase != VideoJobPhase::Running || m_cancellationRequested || m_downloadedBytes < 1)
        return;
    if (m_expectedBytes && *m_expectedBytes >= 1) {
        const double fraction = std::min(1.0, double(m_downloadedBytes) / double(*m_expectedBytes));
        setProgress(fraction);
        setStatus(QStringLiteral("Загружаю… %1%").arg(int(fraction * 100)));
    } else {
        setStatus(QStringLiteral("Загружаю…"));
    }
    QString detail = QStringLiteral("Скачано ") + formatByteCount(m_downloadedBytes);
    if (m_expectedBytes)
        detail += QStringLiteral(" из ") + formatByteCount(*m_expectedBytes);
    detail += QStringLiteral(" · ")
              + DownloadRateMeter::speedText(m_rateMeter.bytesPerSecond(monotonicNow()));
    setDetail(detail);
}

void VideoDownloadJob::workerEnded(VideoJobPhase phase, const QString &status,
                                   const std::optional<QString> &error,
                                   const std::optional<QString> &output)
{
    if (m_worker) {
        // The worker's last act was to post this call; it is ending or gone.
        m_worker->wait();
        delete m_worker;
        m_worker = nullptr;
    }
    m_run.reset();
    if (output)
        setOutputPath(*output);
    finish(phase, status, error);
}

void VideoDownloadJob::finish(VideoJobPhase phase, const QString &status,
                              const std::optional<QString> &error)
{
    if (isTerminal(m_phase))
        return;
    stopRefreshLoop();
    setPhase(phase);
    setStatus(status);
    setErrorMessage(error);
    if (phase == VideoJobPhase::Completed)
        setProgress(1.0);
    emit finished(this);
}

void VideoDownloadJob::setOutputPath(const QString &path)
{
    if (m_outputPath == path)
        return;
    m_outputPath = path;
    emit outputPathChanged();
}

void VideoDownloadJob::setPhase(VideoJobPhase phase)
{
    if (m_phase == phase)
        return;
    m_phase = phase;
    emit phaseChanged();
}

void VideoDownloadJob::setProgress(double progress)
{
    if (m_progress == progress)
        return;
    m_progress = progress;
    emit progressChanged();
}

void VideoDownloadJob::setStatus(const QString &status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void VideoDownloadJob::setDetail(const QString &detail)
{
    if (m_detail == detail)
        return;
    m_detail = detail;
    emit detailChanged();
}

void VideoDownloadJob::setErrorMessage(const std::optional<QString> &message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = message;
    emit errorMessageChanged();
}
