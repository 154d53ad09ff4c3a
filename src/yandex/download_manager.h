#pragma once

#include "app/destination_folder.h"
#include "app/download_history.h"
#include "app/job.h"
#include "app/platform/clock.h"
#include "app/platform/desktop_services.h"
#include "app/platform/http_client.h"
#include "app/platform/locations.h"
#include "app/platform/network_reachability.h"
#include "app/platform/preferences.h"
#include "yandex/retry_policy.h"
#include "yandex/run_links.h"

#include <QObject>
#include <QString>

#include <memory>

class NetworkOutage;
class TransferCoordinator;
class YandexAPI;
class YandexRunJob;

// The state of the Yandex Disk side.
enum class DownloadPhase { Idle, Running, Paused, Stopping, Done, Failed, Canceled };

// Everything the Yandex Disk screen draws, at once.
struct DownloadState {
    QString publicLink;
    int concurrentDownloads = 4;
    DownloadPhase phase = DownloadPhase::Idle;
    QString status = QStringLiteral("Готов к загрузке");
    // A path (the destination, the root folder or the file), or the byte progress with speed.
    QString detail;
    double progressValue = 0;            // 0…1, meaningful when hasDeterminateProgress
    bool hasDeterminateProgress = false; // the total size is known

    bool operator==(const DownloadState &other) const = default;
    // No run is under way.
    bool canStart() const;
    // A run that can be paused, resumed or stopped.
    bool isControllable() const;
};

// Seams of DownloadManager for tests; the defaults are the real service.
struct DownloadManagerOptions {
    QString apiBaseUrl = QStringLiteral("https://cloud-api.yandex.net");
    QString caBundlePath;        // file transfers; empty: the system's trusted CAs
    SleepFn sleep = realSleep(); // retry waits of the API and of file transfers
    int refreshIntervalMs = 500;
    NetworkReachability *reachability = nullptr; // null: the system's
    double networkPollSeconds = 3;   // how often a request waiting for the network looks again
    double networkWaitSeconds = 600; // how long a request waits for the network at most
};

// The model behind the Yandex Disk screen: what the user entered, one download run at a time
// (a YandexRunJob) with pause, resume and stop, the texts of its progress, and the history of
// finished runs, which it writes when a run finishes. Created once by the application and kept
// for the life of the process; lives on the UI thread, where its state changes.
class DownloadManager : public QObject {
    Q_OBJECT
public:
    struct Services {
        HttpClient &http; // for the REST API
        Preferences &preferences;
        Clock &clock;
        Locations &locations;
        DesktopServices &desktop;
    };
    using Options = DownloadManagerOptions;
    // The most files a run moves at once; the parallel-downloads setting offers 1 to this.
    static constexpr int kMaxConcurrentDownloads = 8;

    explicit DownloadManager(Services services, Options options = {}, QObject *parent = nullptr);
    ~DownloadManager() override;

    const DownloadState &state() const { return m_state; }
    void setPublicLink(const QString &link);
    // Kept within 1–kMaxConcurrentDownloads and stored at once.
    void setConcurrentDownloads(int count);
    DestinationFolder &destination() { return m_destination; }
    // Newest first.
    DownloadHistory &history() { return m_history; }

    // Each acts only in the phases where the screen offers it.
    void start();
    void pause();
    void resume();
    void stop();

    // Whether a history entry can be continued now: a failed or stopped run of this side that
    // had chosen its folder or file, which (or whose folder) still exists, while no run is
    // under way.
    bool canContinue(const DownloadHistoryItem &item) const;
    // Lists the entry's link again and downloads into what it produced: files already there
    // that match the listing are kept, missing ones are downloaded, and one that differs is
    // never replaced (the listed file takes the next free numbered name). A new run in every
    // other respect, with its own history entry.
    void continueRun(const DownloadHistoryItem &item);

signals:
    void stateChanged(const DownloadState &state);

private:
    void startRun(const QString &destinationRoot, const QString &continueInto);
    void connectJob();
    void showNetworkWait(bool waiting);
    void runFinished(const JobResult &result);
    void addHistory(DownloadHistoryItem::Result result, const QString &outputPath);
    void publish(const DownloadState &state);

    Preferences &m_preferences;
    Clock &m_clock;
    Options m_options;
    DownloadState m_state;
    DestinationFolder m_destination;
    DownloadHistory m_history;
    RunLinks m_runLinks;
    QString m_runLink; // the link of the current or last run, as typed
    QString m_runRoot; // the folder the current or last run creates its folder or file in
    std::unique_ptr<NetworkReachability> m_ownReachability;
    std::unique_ptr<NetworkOutage> m_outage;
    bool m_waitingForNetwork = false;
    QString m_stage; // the current run's latest stage text
    std::unique_ptr<YandexAPI> m_api;
    std::unique_ptr<TransferCoordinator> m_coordinator;
    // The current run, until it has finished. Destroyed before the API and the coordinator
    // that it uses.
    std::unique_ptr<YandexRunJob> m_job;
};
