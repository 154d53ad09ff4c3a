#pragma once

#include "app/download_history_item.h"
#include "app/download_history.h"
#include "app/platform/clock.h"
#include "app/platform/desktop_services.h"
#include "app/platform/locations.h"
#include "app/platform/preferences.h"
#include "engine/engine_arguments.h"
#include "video/download_kind.h"
#include "video/download_option.h"
#include "video/publication_video.h"
#include "video/video_download_job.h"
#include "video/video_job_plan.h"
#include "video/video_quality.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class EnginePreparation;
class VersionProbe;
class ProcessGroupRegistry;
struct AnalysisAttempt;
struct AnalysisOutcome;

// Seams of DownloadModel; the defaults are the real program's.
struct DownloadModelOptions {
    // Where FFmpeg is looked for, in order (FFmpeg::defaultCandidates() when empty).
    QStringList ffmpegCandidates;
    // Work folders of jobs; Locations::temp() when empty.
    QString tempFolder;
    // Engine and FFmpeg process groups, ended by the shell when the program quits (optional).
    ProcessGroupRegistry *processGroups = nullptr;
    int refreshIntervalMs = 500;
};

// The model behind the video screen: the link field and its analysis through the engine
// (access-mode fallbacks for YouTube, one engine refresh), the choice lists for the quality
// picker, the queue of download jobs (at most three run, oldest first), the destination folder
// and the video side's history. Created once by the application and kept for the life of the
// process; lives on the UI thread, where every property changes. Analyses and jobs run the
// engine on worker threads and report back here.
class DownloadModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString url READ url WRITE setUrl NOTIFY urlChanged)
    Q_PROPERTY(DownloadKind kind READ kind WRITE setKind NOTIFY kindChanged)
    Q_PROPERTY(QString folder READ folder NOTIFY folderChanged)
    Q_PROPERTY(bool isWorking READ isWorking NOTIFY isWorkingChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorMessageChanged)
    Q_PROPERTY(bool engineReady READ engineReady NOTIFY engineReadyChanged)
    Q_PROPERTY(QString videoTitle READ videoTitle NOTIFY videoTitleChanged)
    Q_PROPERTY(QString videoID READ videoID NOTIFY videoIDChanged)
    Q_PROPERTY(int selectedPublicationVideo READ selectedPublicationVideo NOTIFY
                   selectedPublicationVideoChanged)
    Q_PROPERTY(bool showQualityPicker READ showQualityPicker WRITE setShowQualityPicker NOTIFY
                   showQualityPickerChanged)
    Q_PROPERTY(bool startOnVideoOnlyTab READ startOnVideoOnlyTab NOTIFY startOnVideoOnlyTabChanged)
    Q_PROPERTY(bool validURL READ validURL NOTIFY urlChanged)
    Q_PROPERTY(bool canCancel READ canCancel NOTIFY canCancelChanged)
    Q_PROPERTY(int runningJobCount READ runningJobCount NOTIFY jobsChanged)
    Q_PROPERTY(int queuedJobCount READ queuedJobCount NOTIFY jobsChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY busyChanged)

public:
    struct Services {
        Preferences &preferences;
        Clock &clock; // history dates
        Locations &locations;
        DesktopServices &desktop;
        // Finds, installs and refreshes the engine; shared with nobody else on the video side.
        EnginePreparation &engine;
    };
    using Options = DownloadModelOptions;

    static constexpr int kMaximumConcurrentJobs = 3;
    static constexpr int kHistoryLimit = 100;

    explicit DownloadModel(Services services, Options options = {}, QObject *parent = nullptr);
    // Running analyses and jobs are stopped (their process groups ended, work folders removed).
    ~DownloadModel() override;

    // --- Published state (each has a NOTIFY signal) ---
    QString url() const { return m_url; }
    void setUrl(const QString &url);
    DownloadKind kind() const { return m_kind; }
    void setKind(DownloadKind kind);
    QString folder() const { return m_folder; } // a local folder path
    bool isWorking() const { return m_isWorking; }
    QString status() const { return m_status; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    QString errorText() const { return m_errorMessage.value_or(QString()); }
    bool engineReady() const { return m_engineReady; }
    // 0…1 while the engine is downloaded or refreshed; none otherwise.
    std::optional<double> engineInstallProgress() const;
    const QList<DownloadOption> &availableQualities() const { return m_availableQualities; }
    const QList<VideoQuality> &availableAudioQualities() const { return m_availableAudio; }
    const QList<VideoQuality> &availableVideoOnlyQualities() const { return m_availableVideoOnly; }
    QString videoTitle() const { return m_videoTitle; }
    QString videoID() const { return m_videoID; }
    const QList<PublicationVideo> &publicationVideos() const { return m_publicationVideos; }
    int selectedPublicationVideo() const { return m_selectedPublicationVideo; }
    bool showQualityPicker() const { return m_showQualityPicker; }
    // The picker sets it back to false when it closes.
    void setShowQualityPicker(bool show);
    bool startOnVideoOnlyTab() const { return m_startOnVideoOnlyTab; }
    // Queued and running jobs, newest first.
    const QList<VideoDownloadJob *> &jobs() const { return m_jobs; }
    // Finished jobs, newest first.
    const QList<DownloadHistoryItem> &history() const { return m_history.items(); }

    // --- Derived ---
    // The cleaned link handed to the engine, or none when the field holds no supported link.
    std::optional<QString> normalizedVideoURL() const;
    bool validURL() const { return normalizedVideoURL().has_value(); }
    bool isYouTubeURL() const;
    // An analysis runs the engine (the "Отменить" button).
    bool canCancel() const { return m_attempt != nullptr; }
    QList<VideoDownloadJob *> visibleJobs() const;
    int runningJobCount() const;
    int queuedJobCount() const;
    // Anything under way that closing the window must not hide: an analysis, an engine install,
    // or a queued or running job.
    bool isBusy() const;

    // --- Operations (UI thread) ---
    // The main button: analyse the link.
    void primaryAction();
    void selectPublicationVideo(int index);
    void cancelPreparation();
    void startDownload(const QString &format, bool extractAudio);
    void startDownload(const DownloadOption &option);
    void startMergedDownload(const VideoQuality &video, const QString &audioFormat);
    void downloadAllPublicationVideos();
    // The job row's button: cancel a queued or running job, drop a finished one from the list.
    void cancelOrRemove(VideoDownloadJob *job);
    void chooseFolder();
    void revealFolder();
    void revealHistoryItem(const DownloadHistoryItem &item);
    void removeHistoryItem(const DownloadHistoryItem &item);
    void clearHistory();

signals:
    void urlChanged();
    void kindChanged();
    void folderChanged();
    void isWorkingChanged();
    void statusChanged();
    void errorMessageChanged();
    void engineReadyChanged();
    void engineInstallProgressChanged();
    // availableQualities, availableAudioQualities and availableVideoOnlyQualities together.
    void availableQualitiesChanged();
    void videoTitleChanged();
    void videoIDChanged();
    void publicationVideosChanged();
    void selectedPublicationVideoChanged();
    void showQualityPickerChanged();
    void startOnVideoOnlyTabChanged();
    void canCancelChanged();
    // The job list or a job's phase changed: visibleJobs and both counts follow.
    void jobsChanged();
    void historyChanged();
    void busyChanged();

private:
    void loadAvailableQualities(bool afterEngineRefresh, bool allowAutomaticRepair,
                                VideoAccessMode accessMode);
    void attemptEnded(const AnalysisOutcome &outcome);
    void analysisSucceeded(const VideoMetadata &metadata, VideoAccessMode mode);
    void finishAnalysis();
    void stopAttempt();

    struct EngineRunTarget {
        QString executable;
        QString link;
    };
    std::optional<EngineRunTarget> engineRunTarget();
    void enqueue(const VideoJobPlan &plan, const QString &outputPath);
    VideoDownloadJob *createJob(const QString &title, DownloadKind kind, const QString &input,
                                const VideoJobPlan &plan, const QString &outputPath,
                                const QStringList &extractorArguments);
    QString mergedOutputURL(const QString &fileExtension, const QString &title,
                            const QString &mediaID) const;
    void scheduleJobs(std::optional<QString> executable = std::nullopt);
    void jobDidFinish(VideoDownloadJob *job);
    void addHistory(const VideoDownloadJob *job);
    QStringList extractorArgumentsFor(const PublicationVideo &video) const;

    void setIsWorking(bool working);
    void setStatus(const QString &status);
    void setErrorMessage(const std::optional<QString> &message);
    void setEngineReady(bool ready);
    void setVideoTitle(const QString &title);
    void setVideoID(const QString &id);
    void setSelectedPublicationVideo(int index);
    void setStartOnVideoOnlyTab(bool value);
    void setPublicationVideos(const QList<PublicationVideo> &videos);
    void setFolder(const QString &folder);
    void updateBusy();

    Preferences &m_preferences;
    Clock &m_clock;
    Locations &m_locations;
    DesktopServices &m_desktop;
    EnginePreparation &m_engine;
    Options m_options;
    std::unique_ptr<VersionProbe> m_versions;

    QString m_url;
    DownloadKind m_kind = DownloadKind::Video;
    QString m_folder;
    bool m_isWorking = false;
    QString m_status;
    std::optional<QString> m_errorMessage;
    bool m_engineReady = false;
    QList<DownloadOption> m_availableQualities;
    QList<VideoQuality> m_availableAudio;
    QList<VideoQuality> m_availableVideoOnly;
    QString m_videoTitle;
    QString m_videoID;
    QList<PublicationVideo> m_publicationVideos;
    int m_selectedPublicationVideo = 0;
    bool m_showQualityPicker = false;
    bool m_startOnVideoOnlyTab = false;
    QList<VideoDownloadJob *> m_jobs;
    DownloadHistory m_history;

    // The analysis engine run in progress, if any.
    std::shared_ptr<AnalysisAttempt> m_attempt;
    QStringList m_activeExtractorArguments;
    QStringList m_publicationExtractorArguments;
    bool m_busy = false;
};
