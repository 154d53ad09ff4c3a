#include "video/download_model.h"

#include "app/platform/preference_keys.h"
#include "engine/engine_preparation.h"
#include "engine/engine_version.h"
#include "video/ffmpeg_locator.h"
#include "video/work_folder.h"

namespace {

// The engine's choice of the best sound, an m4a file where there is one.
const QString kBestSoundSelector = QStringLiteral("bestaudio[ext=m4a]/bestaudio");

VideoJobEnvironment jobEnvironment(const DownloadModelOptions &options, VersionProbe *versions,
                                   const Clock &clock)
{
    VideoJobEnvironment environment;
    environment.clock = &clock;
    environment.ffmpegCandidates =
        options.ffmpegCandidates.isEmpty() ? FFmpeg::defaultCandidates() : options.ffmpegCandidates;
    environment.versions = versions;
    environment.processGroups = options.processGroups;
    environment.refreshIntervalMs = options.refreshIntervalMs;
    return environment;
}

} // namespace

DownloadModel::DownloadModel(Services services, Options options, QObject *parent)
    : QObject(parent), m_engine(services.engine),
      m_history(services.preferences, services.desktop, QString(PreferenceKeys::kVideoHistory),
                kHistoryLimit),
      m_folder(services.locations.downloads(), services.desktop),
      m_versions(std::make_unique<VersionProbe>()),
      m_queue(services.engine, jobEnvironment(options, m_versions.get(), services.clock), m_history,
              services.clock),
      m_signIn(services.preferences, services.locations.home()),
      m_analysis(services.engine,
                 AnalysisEnvironment{m_versions.get(), options.processGroups, &m_signIn},
                 [this, clock = &services.clock](const AnalysisFindings &found) {
                     return m_choices.showFindings(found, clock->monotonicSeconds());
                 })
{
    // Work folders and half-placed files that earlier runs left (a crash, a kill) go before any
    // job starts; a folder the user picks later is cleaned the same way. Folders of live jobs
    // are locked and stay.
    WorkFolder::sweep(m_folder.path());
    connect(&m_folder, &DestinationFolder::changed, this, &WorkFolder::sweep);
    connect(&m_queue, &DownloadQueue::allStopped, this, &DownloadModel::stopped);
    connect(&m_analysis, &LinkAnalysis::stateChanged, this, &DownloadModel::updateBusy);
    connect(&m_queue, &DownloadQueue::stateChanged, this, &DownloadModel::updateBusy);
    connect(&m_engine, &EnginePreparation::installProgressChanged, this,
            &DownloadModel::updateBusy);
    connect(&m_engine, &EnginePreparation::preparationFinished, this, &DownloadModel::updateBusy);
}

DownloadModel::~DownloadModel()
{
    disconnect(&m_analysis, nullptr, this, nullptr);
    disconnect(&m_queue, nullptr, this, nullptr);
}

void DownloadModel::stopAll()
{
    // An analysis has no work files; its engine is ended with it.
    if (m_analysis.state().isWorking())
        m_analysis.cancel();
    m_queue.stopAll();
}

bool DownloadModel::isBusy() const
{
    return m_analysis.state().isWorking() || m_engine.isPreparing() || m_queue.hasUnfinishedJobs();
}

void DownloadModel::updateBusy()
{
    const bool busy = isBusy();
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged(busy);
}

void DownloadModel::primaryAction()
{
    if (!m_analysis.state().canAnalyse())
        return;
    m_choices.reset();
    m_analysis.analyse();
}

void DownloadModel::signInWithBrowser(const QString &engineName)
{
    if (m_analysis.state().isWorking())
        return;
    m_signIn.choose(engineName);
    primaryAction();
}

void DownloadModel::selectPublicationVideo(int index)
{
    if (const std::optional<StatusLine> line = m_choices.select(index))
        m_analysis.showStatus(*line);
}

bool DownloadModel::canQueue() const
{
    return m_analysis.state().canAnalyse();
}

// Without an engine nothing is queued, and the screen says that downloads are being prepared.
std::optional<QString> DownloadModel::engineForQueue()
{
    std::optional<QString> executable = m_engine.existingExecutable();
    if (!executable)
        m_analysis.showStatus(AnalysisJob::enginePendingStatus());
    return executable;
}

void DownloadModel::startDownload(const DownloadOption &option)
{
    if (!canQueue())
        return;
    if (option.audioFormatID) {
        startMergedDownload(option.video, *option.audioFormatID);
        return;
    }
    enqueue(DownloadKind::Video, VideoJobPlan::direct(option.video.formatID, false));
}

void DownloadModel::startDownload(const QString &format, bool extractAudio, DownloadKind kind)
{
    if (canQueue())
        enqueue(kind, VideoJobPlan::direct(format, extractAudio));
}

void DownloadModel::downloadTrack(const VideoQuality &track)
{
    startDownload(track.formatID, false,
                  track.includesVideo() ? DownloadKind::Video : DownloadKind::Audio);
}

void DownloadModel::downloadBestSound()
{
    startDownload(kBestSoundSelector, true, DownloadKind::Audio);
}

void DownloadModel::startMergedDownload(const VideoQuality &video, const QString &audioFormat)
{
    if (!canQueue())
        return;
    const ChoicesState &choices = m_choices.state();
    enqueue(DownloadKind::Video, mergedPlan(video, audioFormat, choices.title, choices.videoId));
}

VideoJobPlan DownloadModel::mergedPlan(const VideoQuality &video, const QString &audioFormat,
                                       const QString &title, const QString &mediaId)
{
    return VideoJobPlan::merged(
        video, audioFormat,
        m_queue.mergedDestination(m_folder.path(), video.mergeOutputExtension(), title, mediaId));
}

VideoDownloadJob::Description DownloadModel::describe(const QString &title, DownloadKind kind,
                                                      VideoJobPlan plan,
                                                      const QStringList &extractorArguments,
                                                      const PublicationVideo *video) const
{
    VideoDownloadJob::Description description;
    description.title = title;
    description.kind = kind;
    description.folder = m_folder.path();
    description.outputPath =
        plan.kind == VideoJobPlan::Kind::Merged ? plan.destination : m_folder.path();
    description.input = *m_analysis.state().normalizedLink();
    description.plan = std::move(plan);
    const QStringList signIn = m_signIn.argumentsFor(description.input);
    description.extractorArguments = extractorArguments + signIn;
    if (!signIn.isEmpty())
        description.signInBrowser = m_signIn.chosenName().value_or(QString());
    if (video) {
        description.document = video->document;
        description.analysedAt = m_choices.state().analysedAt;
    }
    return description;
}

void DownloadModel::enqueue(DownloadKind kind, VideoJobPlan plan)
{
    const std::optional<QString> executable = engineForQueue();
    if (!executable)
        return;
    QString title = m_choices.state().title;
    if (title.isEmpty()) {
        title = kind == DownloadKind::Audio ? QStringLiteral("Аудио из публикации")
                                            : QStringLiteral("Видео из публикации");
    }
    const ChoicesState &choices = m_choices.state();
    const PublicationVideo *video = nullptr;
    if (choices.selectedVideo >= 0 && choices.selectedVideo < choices.publicationVideos.size())
        video = &choices.publicationVideos.at(choices.selectedVideo);
    m_queue.add(describe(title, kind, std::move(plan), m_choices.extractorArguments(), video));
    m_queue.startQueued(*executable);
    m_choices.setPickerShown(false);
    m_analysis.showQueued({QStringLiteral("Добавлено в загрузки"), std::nullopt});
}

void DownloadModel::downloadAllPublicationVideos()
{
    const QList<PublicationVideo> videos = m_choices.state().publicationVideos;
    if (m_analysis.state().isWorking() || videos.size() < 2 || !m_analysis.state().hasValidLink())
        return;
    const std::optional<QString> executable = engineForQueue();
    if (!executable)
        return;

    qsizetype created = 0;
    for (const PublicationVideo &video : videos) {
        const DownloadChoices lists = downloadChoices(video.metadata);
        VideoJobPlan plan;
        if (!lists.withAudio.isEmpty()) {
            const DownloadOption &option = lists.withAudio.first();
            plan = option.audioFormatID ? mergedPlan(option.video, *option.audioFormatID,
                                                     video.title, video.metadata.videoID)
                                        : VideoJobPlan::direct(option.video.formatID, false);
        } else if (!lists.videoOnly.isEmpty()) {
            plan = VideoJobPlan::direct(lists.videoOnly.first().formatID, false);
        } else {
            continue;
        }
        // Each job goes in front: the publication's first video is the oldest and starts first.
        m_queue.add(describe(video.title, DownloadKind::Video, std::move(plan),
                             m_choices.extractorArgumentsFor(video), &video));
        ++created;
    }
    if (created == 0) {
        m_analysis.showError(QStringLiteral("В публикации нет доступных вариантов видео."));
        return;
    }
    m_queue.startQueued(*executable);
    const qsizetype skipped = videos.size() - created;
    std::optional<QString> skippedNote;
    if (skipped >= 1)
        skippedNote = QStringLiteral("Недоступных роликов пропущено: %1.").arg(skipped);
    m_choices.setPickerShown(false);
    m_analysis.showQueued({QStringLiteral("Добавлено в загрузки: %1").arg(created), skippedNote});
}
