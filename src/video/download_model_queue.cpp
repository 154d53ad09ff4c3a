// The queue, the destination folder and the history of DownloadModel.

#include "video/download_model.h"

#include "app/file_names.h"
#include "engine/engine_preparation.h"
#include "video/download_choices.h"
#include "video/merged_file_name.h"

#include <QDir>
#include <QPointer>
#include <QSet>

QList<VideoDownloadJob *> DownloadModel::visibleJobs() const
{
    QList<VideoDownloadJob *> visible;
    for (VideoDownloadJob *job : m_jobs) {
        if (!isTerminal(job->phase()))
            visible.append(job);
    }
    return visible;
}

int DownloadModel::runningJobCount() const
{
    return int(std::count_if(m_jobs.cbegin(), m_jobs.cend(), [](const VideoDownloadJob *job) {
        return job->phase() == VideoJobPhase::Running;
    }));
}

int DownloadModel::queuedJobCount() const
{
    return int(std::count_if(m_jobs.cbegin(), m_jobs.cend(), [](const VideoDownloadJob *job) {
        return job->phase() == VideoJobPhase::Queued;
    }));
}

void DownloadModel::startDownload(const QString &format, bool extractAudio)
{
    if (!validURL() || m_isWorking)
        return;
    enqueue(VideoJobPlan::direct(format, extractAudio), m_folder);
}

void DownloadModel::startDownload(const DownloadOption &option)
{
    if (!validURL() || m_isWorking)
        return;
    if (option.audioFormatID) {
        startMergedDownload(option.video, *option.audioFormatID);
        return;
    }
    enqueue(VideoJobPlan::direct(option.video.formatID, false), m_folder);
}

void DownloadModel::startMergedDownload(const VideoQuality &video, const QString &audioFormat)
{
    if (!validURL() || m_isWorking)
        return;
    const QString destination =
        mergedOutputURL(video.mergeOutputExtension(), m_videoTitle, m_videoID);
    enqueue(VideoJobPlan::merged(video, audioFormat, destination), destination);
}

// The engine that analyses and downloads run with, and the link they run on; without an engine
// the model says that downloads are still being prepared and nothing starts.
std::optional<DownloadModel::EngineRunTarget> DownloadModel::engineRunTarget()
{
    const std::optional<QString> executable = m_engine.existingExecutable();
    if (!executable) {
        setEngineReady(false);
        setStatus(QStringLiteral("Загрузки подготавливаются…"));
        return std::nullopt;
    }
    const std::optional<QString> link = normalizedVideoURL();
    if (!link)
        return std::nullopt;
    return EngineRunTarget{*executable, *link};
}

void DownloadModel::enqueue(const VideoJobPlan &plan, const QString &outputPath)
{
    const std::optional<EngineRunTarget> target = engineRunTarget();
    if (!target)
        return;
    QString title = m_videoTitle;
    if (title.isEmpty()) {
        title = m_kind == DownloadKind::Audio ? QStringLiteral("Аудио из публикации")
                                              : QStringLiteral("Видео из публикации");
    }
    VideoDownloadJob *job =
        createJob(title, m_kind, target->link, plan, outputPath, m_activeExtractorArguments);
    m_jobs.prepend(job);
    setShowQualityPicker(false);
    setErrorMessage(std::nullopt);
    setStatus(QStringLiteral("Добавлено в загрузки"));
    setUrl(QString());
    emit jobsChanged();
    updateBusy();
    scheduleJobs(target->executable);
}

VideoDownloadJob *DownloadModel::createJob(const QString &title, DownloadKind kind,
                                           const QString &input, const VideoJobPlan &plan,
                                           const QString &outputPath,
                                           const QStringList &extractorArguments)
{
    VideoDownloadJob::Description description;
    description.title = title;
    description.kind = kind;
    description.folder = m_folder;
    description.outputPath = outputPath;
    description.input = input;
    description.plan = plan;
    description.extractorArguments = extractorArguments;

    VideoJobEnvironment environment;
    environment.tempFolder = m_options.tempFolder;
    environment.ffmpegCandidates = m_options.ffmpegCandidates;
    environment.versions = m_versions.get();
    environment.runtimes = m_engine.runtimeCandidates();
    environment.engineFolderUsage = &m_engine.folderUsage();
    environment.processGroups = m_options.processGroups;
    environment.refreshIntervalMs = m_options.refreshIntervalMs;

    auto *job = new VideoDownloadJob(std::move(description), std::move(environment), this);
    connect(job, &Job::stateChanged, this, [this] {
        emit jobsChanged();
        updateBusy();
    });
    connect(job, &Job::finished, this, [this, job] { jobDidFinish(job); });
    return job;
}

QString DownloadModel::mergedOutputURL(const QString &fileExtension, const QString &title,
                                       const QString &mediaID) const
{
    const QString base = mergedBaseName(title, mediaID, int(fileExtension.size()));
    // A name planned by a job still waiting or running is as taken as a file on disk: the
    // second of two jobs for the same video would otherwise get the same name.
    QSet<QString> taken;
    for (const VideoDownloadJob *job : m_jobs) {
        if (!isTerminal(job->phase()))
            taken.insert(reservationKey(job->outputPath()));
    }
    return uniqueFile(QDir(m_folder).filePath(base + u'.' + fileExtension), taken);
}

void DownloadModel::scheduleJobs(std::optional<QString> executable)
{
    if (!executable)
        executable = m_engine.existingExecutable();
    if (!executable)
        return;
    int freeSlots = kMaximumConcurrentJobs - runningJobCount();
    if (freeSlots < 1)
        return;
    // Oldest first: the list is newest first, so walk it from the end.
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
    if (!chosen.isEmpty())
        emit jobsChanged();
}

void DownloadModel::jobDidFinish(VideoDownloadJob *job)
{
    addHistory(job);
    if (m_jobs.removeAll(job) > 0) {
        job->deleteLater();
        emit jobsChanged();
    }
    scheduleJobs();
    updateBusy();
}

void DownloadModel::addHistory(const VideoDownloadJob *job)
{
    DownloadHistoryItem item;
    item.id = QUuid::createUuid();
    item.name = job->title();
    item.path = job->outputPath();
    item.date = m_clock.wallTime();
    switch (job->phase()) {
    case VideoJobPhase::Completed:
        item.result = DownloadHistoryItem::Result::Completed;
        break;
    case VideoJobPhase::Failed:
        item.result = DownloadHistoryItem::Result::Failed;
        break;
    default:
        item.result = DownloadHistoryItem::Result::Canceled;
        break;
    }
    item.message = job->statusText();
    m_history.add(item);
    emit historyChanged();
}

void DownloadModel::cancelOrRemove(VideoDownloadJob *job)
{
    if (!job || !m_jobs.contains(job))
        return;
    if (!isTerminal(job->phase())) {
        job->cancel();
        return;
    }
    m_jobs.removeAll(job);
    job->deleteLater();
    emit jobsChanged();
}

void DownloadModel::downloadAllPublicationVideos()
{
    if (m_isWorking || m_publicationVideos.size() < 2)
        return;
    const std::optional<EngineRunTarget> target = engineRunTarget();
    if (!target)
        return;

    int created = 0;
    for (const PublicationVideo &video : std::as_const(m_publicationVideos)) {
        const DownloadChoices choices = downloadChoices(video.metadata);
        VideoJobPlan plan;
        QString outputPath = m_folder;
        if (!choices.withAudio.isEmpty()) {
            const DownloadOption &option = choices.withAudio.first();
            if (option.audioFormatID) {
                const QString destination = mergedOutputURL(option.video.mergeOutputExtension(),
                                                            video.title, video.metadata.videoID);
                plan = VideoJobPlan::merged(option.video, *option.audioFormatID, destination);
                outputPath = destination;
            } else {
                plan = VideoJobPlan::direct(option.video.formatID, false);
            }
        } else if (!choices.videoOnly.isEmpty()) {
            plan = VideoJobPlan::direct(choices.videoOnly.first().formatID, false);
        } else {
            continue;
        }
        m_jobs.prepend(createJob(video.title, DownloadKind::Video, target->link, plan, outputPath,
                                 extractorArgumentsFor(video)));
        ++created;
    }
    if (created == 0) {
        setErrorMessage(QStringLiteral("В публикации нет доступных вариантов видео."));
        return;
    }
    const qsizetype skipped = m_publicationVideos.size() - created;
    if (skipped >= 1)
        setErrorMessage(QStringLiteral("Недоступных роликов пропущено: %1.").arg(skipped));
    else
        setErrorMessage(std::nullopt);
    setKind(DownloadKind::Video);
    setShowQualityPicker(false);
    setStatus(QStringLiteral("Добавлено в загрузки: %1").arg(created));
    setUrl(QString());
    emit jobsChanged();
    updateBusy();
    scheduleJobs(target->executable);
}

void DownloadModel::chooseFolder()
{
    QPointer<DownloadModel> self(this);
    m_desktop.chooseFolder(QStringLiteral("Куда скачивать"), QStringLiteral("Выбрать"), m_folder,
                           [self](std::optional<QString> chosen) {
                               if (self && chosen)
                                   self->setFolder(*chosen);
                           });
}

void DownloadModel::setFolder(const QString &folder)
{
    if (m_folder == folder)
        return;
    m_folder = folder;
    emit folderChanged();
}

void DownloadModel::revealFolder()
{
    m_desktop.openFolder(m_folder);
}

void DownloadModel::revealHistoryItem(const DownloadHistoryItem &item)
{
    m_history.reveal(item);
}

void DownloadModel::removeHistoryItem(const DownloadHistoryItem &item)
{
    m_history.remove(item);
    emit historyChanged();
}

void DownloadModel::clearHistory()
{
    m_history.clear();
    emit historyChanged();
}
