#include "video/download_model.h"

#include "app/platform/preference_keys.h"
#include "engine/engine_preparation.h"
#include "engine/engine_version.h"
#include "video/analysis_attempt.h"
#include "video/download_choices.h"
#include "video/download_failure.h"
#include "video/ffmpeg_locator.h"
#include "video/video_link.h"

#include <QThread>
#include <QUrl>

DownloadModel::DownloadModel(Services services, Options options, QObject *parent)
    : QObject(parent), m_preferences(services.preferences), m_clock(services.clock),
      m_locations(services.locations), m_desktop(services.desktop), m_engine(services.engine),
      m_options(std::move(options)), m_versions(std::make_unique<VersionProbe>()),
      m_folder(services.locations.downloads()), m_status(QStringLiteral("Готово к загрузке")),
      m_history(services.preferences, services.desktop, QString(PreferenceKeys::kVideoHistory),
                kHistoryLimit)
{
    if (m_options.ffmpegCandidates.isEmpty())
        m_options.ffmpegCandidates = FFmpeg::defaultCandidates();
    if (m_options.tempFolder.isEmpty())
        m_options.tempFolder = m_locations.temp();
    m_engineReady = m_engine.existingExecutable().has_value();

    connect(&m_engine, &EnginePreparation::engineReadyChanged, this,
            [this](bool ready) { setEngineReady(ready); });
    connect(&m_engine, &EnginePreparation::installProgressChanged, this, [this] {
        emit engineInstallProgressChanged();
        updateBusy();
    });
    connect(&m_engine, &EnginePreparation::preparationFinished, this, [this] { updateBusy(); });
}

DownloadModel::~DownloadModel()
{
    if (m_attempt) {
        m_attempt->cancel();
        m_attempt->thread->wait();
        delete m_attempt->thread;
        m_attempt.reset();
    }
    // Each job stops its engine or FFmpeg and removes its work folder before it goes.
    const QList<VideoDownloadJob *> jobs = std::exchange(m_jobs, {});
    for (VideoDownloadJob *job : jobs) {
        disconnect(job, nullptr, this, nullptr);
        delete job;
    }
}

std::optional<double> DownloadModel::engineInstallProgress() const
{
    return m_engine.installProgress();
}

void DownloadModel::setUrl(const QString &url)
{
    if (m_url == url)
        return;
    m_url = url;
    emit urlChanged();
}

void DownloadModel::setKind(DownloadKind kind)
{
    if (m_kind == kind)
        return;
    m_kind = kind;
    emit kindChanged();
}

void DownloadModel::setShowQualityPicker(bool show)
{
    if (m_showQualityPicker == show)
        return;
    m_showQualityPicker = show;
    emit showQualityPickerChanged();
}

std::optional<QString> DownloadModel::normalizedVideoURL() const
{
    return normalizeVideoLink(m_url);
}

bool DownloadModel::isYouTubeURL() const
{
    const std::optional<QString> link = normalizedVideoURL();
    return link && isYouTubeHost(QUrl(*link).host());
}

bool DownloadModel::isBusy() const
{
    return m_isWorking || m_engine.isPreparing() || runningJobCount() + queuedJobCount() > 0;
}

void DownloadModel::primaryAction()
{
    if (!validURL() || m_isWorking)
        return;
    setStartOnVideoOnlyTab(false);
    m_activeExtractorArguments.clear();
    setPublicationVideos({});
    setSelectedPublicationVideo(0);
    loadAvailableQualities(false, true, VideoAccessMode::Standard);
}

void DownloadModel::loadAvailableQualities(bool afterEngineRefresh, bool allowAutomaticRepair,
                                           VideoAccessMode accessMode)
{
    if (!validURL() || m_isWorking)
        return;
    if (!afterEngineRefresh && !m_engine.refreshCompleted()) {
        setIsWorking(true);
        setErrorMessage(std::nullopt);
        setStatus(m_engine.startingStatus());
        m_engine.prepare(false, this, [this, allowAutomaticRepair, accessMode](bool ready) {
            setIsWorking(false);
            if (!ready) {
                setStatus(QStringLiteral("Не удалось подготовить загрузки"));
                setErrorMessage(QStringLiteral("Не удалось загрузить поддержку видеоплатформ. "
                                               "Проверьте интернет-соединение."));
                return;
            }
            loadAvailableQualities(true, allowAutomaticRepair, accessMode);
        });
        return;
    }

    const std::optional<EngineRunTarget> target = engineRunTarget();
    if (!target)
        return;

    setIsWorking(true);
    setErrorMessage(std::nullopt);
    setStatus(QStringLiteral("Получаю доступные качества…"));

    AnalysisRequest request;
    request.executable = target->executable;
    request.link = target->link;
    request.mode = accessMode;
    request.isYouTube = isYouTubeURL();
    request.allowAutomaticRepair = allowAutomaticRepair;
    request.processGroups = m_options.processGroups;
    request.engineFolderUsage = &m_engine.folderUsage();
    request.versions = m_versions.get();
    request.runtimes = m_engine.runtimeCandidates();

    auto attempt = std::make_shared<AnalysisAttempt>();
    attempt->thread = QThread::create([this, attempt, request] {
        const AnalysisOutcome outcome = runAnalysis(request, *attempt);
        // The model waits for this thread before it goes, so `this` is alive here; the call
        // is dropped if the model is deleted before it runs.
        QMetaObject::invokeMethod(
            this, [this, outcome] { attemptEnded(outcome); }, Qt::QueuedConnection);
    });
    m_attempt = attempt;
    emit canCancelChanged();
    attempt->thread->start();
}

void DownloadModel::stopAttempt()
{
    if (!m_attempt)
        return;
    m_attempt->thread->wait();
    delete m_attempt->thread;
    m_attempt.reset();
    emit canCancelChanged();
}

void DownloadModel::attemptEnded(const AnalysisOutcome &outcome)
{
    using Kind = AnalysisOutcome::Kind;
    stopAttempt();
    switch (outcome.kind) {
    case Kind::Success:
        analysisSucceeded(*outcome.metadata, outcome.mode);
        return;
    case Kind::Cancelled:
        setIsWorking(false);
        setStatus(QStringLiteral("Получение вариантов отменено"));
        setErrorMessage(std::nullopt);
        return;
    case Kind::Fallback:
        setIsWorking(false);
        setStatus(QStringLiteral("Пробую запасной режим YouTube…"));
        loadAvailableQualities(true, outcome.allowAutomaticRepair, outcome.nextMode);
        return;
    case Kind::Repair: {
        setStatus(QStringLiteral("Обновляю поддержку платформы…"));
        const QString diagnostic = outcome.diagnostic;
        const VideoAccessMode mode = outcome.mode;
        m_engine.prepare(true, this, [this, diagnostic, mode](bool ready) {
            setIsWorking(false);
            if (ready) {
                loadAvailableQualities(true, false, mode);
                return;
            }
            setStatus(QStringLiteral("Не удалось обновить поддержку"));
            setErrorMessage(DownloadFailure::explanation(diagnostic));
        });
        return;
    }
    case Kind::EngineFailure:
        setIsWorking(false);
        setStatus(QStringLiteral("Не удалось получить варианты"));
        setErrorMessage(DownloadFailure::explanation(outcome.diagnostic));
        return;
    case Kind::GenericFailure:
        setIsWorking(false);
        setStatus(QStringLiteral("Не удалось получить варианты"));
        setErrorMessage(outcome.errorText);
        return;
    }
}

void DownloadModel::analysisSucceeded(const VideoMetadata &metadata, VideoAccessMode mode)
{
    m_publicationExtractorArguments = EngineArguments::accessModeArguments(mode);
    QList<PublicationVideo> videos;
    if (metadata.entries) {
        const auto &entries = *metadata.entries;
        for (qsizetype p = 0; p < entries.size(); ++p) {
            const std::optional<VideoMetadata> &entry = entries.at(p);
            if (!entry || entry->formats.isEmpty())
                continue;
            PublicationVideo video;
            video.metadata = *entry;
            video.playlistIndex = entry->playlistIndex ? *entry->playlistIndex : p + 1;
            video.title = QStringLiteral("Видео %1").arg(p + 1);
            videos.append(video);
        }
    } else {
        PublicationVideo video;
        video.metadata = metadata;
        video.title = metadata.title.value_or(QStringLiteral("Видео"));
        videos.append(video);
    }
    setPublicationVideos(videos);
    if (videos.isEmpty()) {
        setIsWorking(false);
        setStatus(QStringLiteral("Видео не найдено"));
        setErrorMessage(QStringLiteral("В этой публикации нет доступных видеороликов."));
        return;
    }
    selectPublicationVideo(0);
}

void DownloadModel::selectPublicationVideo(int index)
{
    if (index < 0 || index >= m_publicationVideos.size())
        return;
    setSelectedPublicationVideo(index);
    const PublicationVideo &video = m_publicationVideos.at(index);
    const DownloadChoices choices = downloadChoices(video.metadata);
    setIsWorking(false);
    if (choices.isEmpty()) {
        setStatus(QStringLiteral("Готовых вариантов не найдено"));
        setErrorMessage(QStringLiteral("Платформа не отдала вариантов, которые можно сохранить "
                                       "или объединить на этом компьютере."));
        return;
    }
    m_availableQualities = choices.withAudio;
    m_availableAudio = choices.audioOnly;
    m_availableVideoOnly = choices.videoOnly;
    emit availableQualitiesChanged();
    m_activeExtractorArguments = extractorArgumentsFor(video);
    if (m_publicationVideos.size() < 2)
        setVideoTitle(video.metadata.title.value_or(QStringLiteral("Выберите качество")));
    else
        setVideoTitle(video.title);
    setVideoID(video.metadata.videoID);
    setStatus(QStringLiteral("Выберите качество видео"));
    setStartOnVideoOnlyTab(choices.withAudio.isEmpty() && !choices.videoOnly.isEmpty());
    setShowQualityPicker(true);
}

QStringList DownloadModel::extractorArgumentsFor(const PublicationVideo &video) const
{
    QStringList arguments;
    if (video.playlistIndex)
        arguments << QStringLiteral("--playlist-items") << QString::number(*video.playlistIndex);
    arguments << m_publicationExtractorArguments;
    return arguments;
}

void DownloadModel::cancelPreparation()
{
    if (m_attempt)
        m_attempt->cancel();
    setStatus(QStringLiteral("Отменяю…"));
}

void DownloadModel::setIsWorking(bool working)
{
    if (m_isWorking == working)
        return;
    m_isWorking = working;
    emit isWorkingChanged();
    updateBusy();
}

void DownloadModel::setStatus(const QString &status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void DownloadModel::setErrorMessage(const std::optional<QString> &message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = message;
    emit errorMessageChanged();
}

void DownloadModel::setEngineReady(bool ready)
{
    if (m_engineReady == ready)
        return;
    m_engineReady = ready;
    emit engineReadyChanged();
}

void DownloadModel::setVideoTitle(const QString &title)
{
    if (m_videoTitle == title)
        return;
    m_videoTitle = title;
    emit videoTitleChanged();
}

void DownloadModel::setVideoID(const QString &id)
{
    if (m_videoID == id)
        return;
    m_videoID = id;
    emit videoIDChanged();
}

void DownloadModel::setSelectedPublicationVideo(int index)
{
    if (m_selectedPublicationVideo == index)
        return;
    m_selectedPublicationVideo = index;
    emit selectedPublicationVideoChanged();
}

void DownloadModel::setStartOnVideoOnlyTab(bool value)
{
    if (m_startOnVideoOnlyTab == value)
        return;
    m_startOnVideoOnlyTab = value;
    emit startOnVideoOnlyTabChanged();
}

void DownloadModel::setPublicationVideos(const QList<PublicationVideo> &videos)
{
    if (m_publicationVideos == videos)
        return;
    m_publicationVideos = videos;
    emit publicationVideosChanged();
}

void DownloadModel::updateBusy()
{
    const bool busy = isBusy();
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged();
}
