#pragma once

#include "app/app_error.h"
#include "app/download_history_item.h"
#include "app/download_history.h"
#include "app/platform/clock.h"
#include "app/platform/desktop_services.h"
#include "app/platform/http_client.h"
#include "app/platform/locations.h"
#include "app/platform/preferences.h"
#include "app/rate_meter.h"
#include "yandex/retry_policy.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>
#include <thread>

class ControlGate;
class DownloadRun;
class ProgressBoard;
class TransferCoordinator;
class YandexAPI;
struct RunSummary;

// The state of the Yandex Disk side.
enum class DownloadPhase { Idle, Running, Paused, Stopping, Done, Failed, Canceled };

// Seams of DownloadManager for tests; the defaults are the real service.
struct DownloadManagerOptions {
    QString apiBaseUrl = QStringLiteral("https://cloud-api.yandex.net");
    QString caBundlePath;        // file transfers; empty: the system's trusted CAs
    SleepFn sleep = realSleep(); // retry waits of the API and of file transfers
    int refreshIntervalMs = 500;
};

// The model behind the Yandex Disk screen: what the user entered, one download run at a
// time with pause, resume and stop, its aggregated progress texts, and the history of
// finished runs. Created once by the application and kept for the life of the process;
// lives on the UI thread, where every property changes. The run itself works on its own
// threads and reports back here.
class DownloadManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString publicLink READ publicLink WRITE setPublicLink NOTIFY publicLinkChanged)
    Q_PROPERTY(QString destinationURL READ destinationURL NOTIFY destinationURLChanged)
    Q_PROPERTY(int concurrentDownloads READ concurrentDownloads WRITE setConcurrentDownloads NOTIFY
                   concurrentDownloadsChanged)
    Q_PROPERTY(DownloadPhase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString detail READ detail NOTIFY detailChanged)
    Q_PROPERTY(double progressValue READ progressValue NOTIFY progressValueChanged)
    Q_PROPERTY(bool hasDeterminateProgress READ hasDeterminateProgress NOTIFY
                   hasDeterminateProgressChanged)
    Q_PROPERTY(bool canStart READ canStart NOTIFY phaseChanged)
    Q_PROPERTY(bool isControllable READ isControllable NOTIFY phaseChanged)

public:
    struct Services {
        HttpClient &http; // for the REST API
        Preferences &preferences;
        Clock &clock;
        Locations &locations;
        DesktopServices &desktop;
    };
    using Options = DownloadManagerOptions;

    explicit DownloadManager(Services services, Options options = {}, QObject *parent = nullptr);
    ~DownloadManager() override;

    QString publicLink() const { return m_publicLink; }
    void setPublicLink(const QString &link);
    // A local folder path.
    QString destinationURL() const { return m_destination; }
    int concurrentDownloads() const { return m_concurrentDownloads; }
    // Kept within 1–8 and stored at once.
    void setConcurrentDownloads(int count);
    DownloadPhase phase() const { return m_phase; }
    QString status() const { return m_status; }
    QString detail() const { return m_detail; }
    double progressValue() const { return m_progressValue; }
    bool hasDeterminateProgress() const { return m_hasDeterminateProgress; }
    bool canStart() const;
    bool isControllable() const;
    // Newest first.
    const QList<DownloadHistoryItem> &history() const { return m_history.items(); }

    void start();
    void pause();
    void resume();
    void stop();
    void chooseDestination();
    void openDestination();
    void revealInFinder(const DownloadHistoryItem &item);
    void removeHistoryItem(const DownloadHistoryItem &item);
    void clearHistory();

signals:
    void publicLinkChanged();
    void destinationURLChanged();
    void concurrentDownloadsChanged();
    void phaseChanged();
    void statusChanged();
    void detailChanged();
    void progressValueChanged();
    void hasDeterminateProgressChanged();
    void historyChanged();

private:
    void setPhase(DownloadPhase phase);
    void setStatus(const QString &status);
    void setDetail(const QString &detail);
    void setProgressValue(double value);
    void setHasDeterminateProgress(bool value);
    void setDestination(const QString &path);

    // The hops from the run's threads.
    void applyRunStatus(const QString &status);
    void applyRunOutput(const QString &path);
    void applyRunTotals(int files, qint64 bytes);
    void finishRun(const Result<RunSummary> &result);

    // Takes what the workers left on the board since the last refresh.
    void collectProgress();
    void markCompleted(const QString &id, qint64 size);
    void refreshProgress();
    void addHistory(DownloadHistoryItem::Result result);
    double now() const { return m_clock.monotonicSeconds(); }

    HttpClient &m_http;
    Preferences &m_preferences;
    Clock &m_clock;
    DesktopServices &m_desktop;
    Options m_options;

    QString m_publicLink;
    QString m_destination;
    int m_concurrentDownloads = 4;
    DownloadPhase m_phase = DownloadPhase::Idle;
    QString m_status;
    QString m_detail;
    double m_progressValue = 0;
    bool m_hasDeterminateProgress = false;
    DownloadHistory m_history;

    std::unique_ptr<YandexAPI> m_api;
    std::unique_ptr<TransferCoordinator> m_coordinator;
    std::shared_ptr<ControlGate> m_gate;
    std::shared_ptr<ProgressBoard> m_board;
    std::unique_ptr<DownloadRun> m_run;
    std::thread m_runThread;
    QTimer m_refreshTimer;

    QHash<QString, qint64> m_activeProgress;
    QSet<QString> m_completedIDs;
    qint64 m_completedBytes = 0;
    qint64 m_totalBytes = 0;
    int m_completedFiles = 0;
    int m_totalFiles = 0;
    DownloadRateMeter m_rateMeter;
    QString m_currentOutputPath;
};
