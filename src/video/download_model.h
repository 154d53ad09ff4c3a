#pragma once

#include "app/destination_folder.h"
#include "app/download_history.h"
#include "app/platform/clock.h"
#include "app/platform/desktop_services.h"
#include "app/platform/locations.h"
#include "app/platform/preferences.h"
#include "video/browser_sign_in.h"
#include "video/download_queue.h"
#include "video/link_analysis.h"
#include "video/quality_choices.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class EnginePreparation;
class ProcessGroupRegistry;
class VersionProbe;

// Seams of DownloadModel; the defaults are the real program's.
struct DownloadModelOptions {
    // Where FFmpeg is looked for, in order (FFmpeg::defaultCandidates() when empty).
    QStringList ffmpegCandidates;
    // Engine and FFmpeg process groups, ended by the shell when the program quits (optional).
    ProcessGroupRegistry *processGroups = nullptr;
    int refreshIntervalMs = 500;
};

// The model behind the video screen, made of the parts the screen observes: the link and its
// analysis, the quality choices, the queue of download jobs, the destination folder and the
// video history. It carries out what takes more than one part: starting an analysis, turning a
// choice into a queued job, picking another video of a publication. Created once by the
// application and kept for the life of the process; UI thread only.
class DownloadModel : public QObject {
    Q_OBJECT
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

    static constexpr int kHistoryLimit = 100;

    explicit DownloadModel(Services services, Options options = {}, QObject *parent = nullptr);
    // Running analyses and jobs are stopped (their process groups ended, work folders removed).
    ~DownloadModel() override;

    LinkAnalysis &analysis() { return m_analysis; }
    QualityChoices &choices() { return m_choices; }
    DownloadQueue &queue() { return m_queue; }
    DestinationFolder &folder() { return m_folder; }
    DownloadHistory &history() { return m_history; }
    BrowserSignIn &signIn() { return m_signIn; }
    // Anything under way that closing the window must not hide: an analysis, an engine install,
    // or a queued or running job.
    bool isBusy() const;

    // The main button: analyse the link.
    void primaryAction();
    void selectPublicationVideo(int index);
    // Queueing; each does nothing while the link is not valid or an analysis runs.
    void startDownload(const DownloadOption &option);
    void startDownload(const QString &format, bool extractAudio, DownloadKind kind);
    // One track of the selected video as it is offered: a sound track, or a video track alone.
    void downloadTrack(const VideoQuality &track);
    // The best sound the platform has, as an m4a file where possible.
    void downloadBestSound();
    void startMergedDownload(const VideoQuality &video, const QString &audioFormat);
    void downloadAllPublicationVideos();
    // The program is quitting: stops the analysis and every job; stopped() follows once every
    // job has ended its processes and removed its work files.
    void stopAll();
    // Lends YouTube runs this browser's sign-in from now on, and analyses the link again.
    void signInWithBrowser(const QString &engineName);

signals:
    void busyChanged(bool busy);
    void stopped();

private:
    bool canQueue() const;
    std::optional<QString> engineForQueue();
    VideoJobPlan mergedPlan(const VideoQuality &video, const QString &audioFormat,
                            const QString &title, const QString &mediaId);
    // `video`: the analysed video the job downloads, when there is one.
    VideoDownloadJob::Description describe(const QString &title, DownloadKind kind,
                                           VideoJobPlan plan, const QStringList &extractorArguments,
                                           const PublicationVideo *video) const;
    void enqueue(DownloadKind kind, VideoJobPlan plan);
    void updateBusy();

    EnginePreparation &m_engine;
    DownloadHistory m_history;
    DestinationFolder m_folder;
    std::unique_ptr<VersionProbe> m_versions;
    DownloadQueue m_queue;
    QualityChoices m_choices;
    BrowserSignIn m_signIn;
    LinkAnalysis m_analysis; // last: its running engine stops first
    bool m_busy = false;
};
