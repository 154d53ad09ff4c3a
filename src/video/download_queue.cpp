#include "video/download_queue.h"

#include "app/file_names.h"
#include "engine/engine_preparation.h"
#include "video/merged_file_name.h"

#include <QDir>
#include <QSet>
#include <QUuid>

#include <algorithm>

// Everything that touches a VideoDownloadJob's own interface is in this file.

namespace {

DownloadHistoryItem::Result historyResult(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Succeeded:
        return DownloadHistoryItem::Result::Completed;
    case Outcome::Failed:
        return DownloadHistoryItem::Result::Failed;
    case Outcome::Cancelled:
        break;
    }
    return DownloadHistoryItem::Result::Canceled;
}

} // namespace

DownloadQueue::DownloadQueue(EnginePreparation &engine, VideoJobEnvironment environment,
                             DownloadHistory &history, const Clock &clock, QObject *parent)
    : QObject(parent), m_engine(engine), m_environment(std::move(environment)), m_history(history),
      m_clock(clock)
{
}

DownloadQueue::~DownloadQueue()
{
    // Each job stops its engine or FFmpeg and removes its work folder before it goes; its end
    // is no longer recorded.
    const QList<VideoDownloadJob *> jobs = std::exchange(m_jobs, {});
    for (VideoDownloadJob *job : jobs) {
        disconnect(job, nullptr, this, nullptr);
        delete job;
    }
}

QString DownloadQueue::mergedDestination(const QString &folder, const QString &extension,
                                         const QString &title, const QString &mediaId) const
{
    const QString base = mergedBaseName(title, mediaId, int(extension.size()));
    // Two jobs for the same video would otherwise be given the same name.
    QSet<QString> taken;
    for (const VideoDownloadJob *job : m_jobs) {
        if (!isTerminal(job->phase()))
            taken.insert(reservationKey(job->outputPath()));
    }
    return uniqueFile(QDir(folder).filePath(base + u'.' + extension), taken);
}

void DownloadQueue::add(const VideoDownloadJob::Description &description)
{
    VideoJobEnvironment environment = m_environment;
    environment.runtimes = m_engine.runtimeCandidates();
    environment.engineFolderUsage = &m_engine.folderUsage();
    auto *job = new VideoDownloadJob(description, std::move(environment), this);
    connect(job, &Job::stateChanged, this, &DownloadQueue::publish);
    connect(job, &Job::finished, this,
            [this, job](const JobResult &result) { jobEnded(job, result); });
    m_jobs.prepend(job);
}

void DownloadQueue::startQueued(const QString &executable)
{
    schedule(executable);
    publish();
}

void DownloadQueue::schedule(std::optional<QString> executable)
{
    if (!executable)
        executable = m_engine.existingExecutable();
    if (!executable)
        return;
    const auto running =
        std::count_if(m_jobs.cbegin(), m_jobs.cend(), [](const VideoDownloadJob *job) {
            return job->phase() == VideoJobPhase::Running;
        });
    qsizetype freeSlots = kMaximumConcurrentJobs - running;
    // Oldest first: the list is newest first.
    QList<VideoDownloadJob *> chosen;
    for (auto it = m_jobs.crbegin(); it != m_jobs.crend() && freeSlots > 0; ++it) {
        if ((*it)->phase() == VideoJobPhase::Queued) {
            chosen.append(*it);
            --freeSlots;
        }
    }
    for (VideoDownloadJob *job : chosen) {
        if (job->phase() == VideoJobPhase::Queued) {
            job->setEngineExecutable(*executable);
            job->start();
        }
    }
}

void DownloadQueue::stopAll()
{
    m_stopping = true;
    const QList<VideoDownloadJob *> jobs = m_jobs; // a queued job ends, and leaves, at once
    for (VideoDownloadJob *job : jobs)
        job->abandon();
    reportIfAllStopped();
}

void DownloadQueue::reportIfAllStopped()
{
    const bool ended = std::all_of(m_jobs.cbegin(), m_jobs.cend(), [](const VideoDownloadJob *job) {
        return isTerminal(job->phase());
    });
    if (m_stopping && ended && !std::exchange(m_reportedStopped, true))
        emit allStopped();
}

void DownloadQueue::jobEnded(VideoDownloadJob *job, const JobResult &result)
{
    // A job's end comes after its worker has ended its processes and removed its work folder.
    if (m_stopping) {
        if (m_jobs.removeAll(job) > 0)
            job->deleteLater();
        publish();
        reportIfAllStopped();
        return;
    }
    DownloadHistoryItem item;
    item.id = QUuid::createUuid();
    item.name = job->title();
    item.path = job->outputPath();
    item.date = m_clock.wallTime();
    item.result = historyResult(result.outcome);
    item.message = job->statusText();
    m_history.add(item);
    if (m_jobs.removeAll(job) > 0)
        job->deleteLater();
    schedule(std::nullopt);
    publish();
}

void DownloadQueue::cancelOrRemove(VideoDownloadJob *job)
{
    if (!job || !m_jobs.contains(job))
        return;
    if (!isTerminal(job->phase())) {
        job->cancel();
        return;
    }
    m_jobs.removeAll(job);
    job->deleteLater();
    publish();
}

void DownloadQueue::publish()
{
    m_state = QueueState();
    for (VideoDownloadJob *job : std::as_const(m_jobs)) {
        if (isTerminal(job->phase()))
            continue;
        m_state.jobs.append(job);
        m_state.running += job->phase() == VideoJobPhase::Running;
        m_state.queued += job->phase() == VideoJobPhase::Queued;
    }
    emit stateChanged(m_state);
}
