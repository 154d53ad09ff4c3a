#pragma once

#include "app/background_work.h"
#include "app/job.h"
#include "app/platform/clock.h"
#include "app/rate_meter.h"
#include "yandex/control_gate.h"
#include "yandex/download_run.h"
#include "yandex/progress_board.h"
#include "yandex/public_link.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>

class TransferCoordinator;
class YandexAPI;

// What one run downloads, and how.
struct YandexRunSetup {
    YandexPublicLink link;
    QString destinationRoot; // the folder the run creates its folder or file in
    int maxConcurrent = 4;   // files in flight at once, 1–8
    int refreshIntervalMs = 500;
    // What an earlier run of the same link produced, to continue into; empty: a new run.
    QString continueInto;
    // Whether a request of the run is waiting for the network now; looked at every refresh.
    std::function<bool()> waitingForNetwork;
};

// One Yandex Disk download run as a job: the blocking body (DownloadRun) on a worker thread,
// the run's gate and progress board, and the totals of its files. The owner's pause, resume
// and stop reach the gate and the transfers together here, and nowhere else; the pause is the
// gate's, so it ends with the run. Publishes raw progress when the files to
// download are known, at each refresh and at the end (the totals stay -1 until the plan is
// known; 0 bytes when the listing gave no sizes). Owned by the download manager, one per run;
// lives on the UI thread.
class YandexRunJob : public Job {
    Q_OBJECT
public:
    YandexRunJob(const YandexAPI &api, TransferCoordinator &coordinator, const Clock &clock,
                 YandexRunSetup setup, QObject *parent = nullptr);
    ~YandexRunJob() override;

    bool canPause() const override { return true; }
    // What the run produces: the destination folder until the link has been looked at, then
    // the root folder or the single file. Kept after the end.
    const QString &outputPath() const { return m_outputPath; }
    // Whether a successful run produced a folder (else one file).
    bool producedFolder() const { return m_producedFolder; }

signals:
    // A text of the folder scan, ready to show.
    void stageReached(const QString &text);
    void outputChosen(const QString &path);
    // The periodic refresh of the figures, changed or not, from the first transfer's report
    // on: the moment for the owner to show progress instead of a stage or transient text.
    void refreshed(const Progress &progress);
    // A request of the run began or ended waiting for the network to come back.
    void networkWaitChanged(bool waiting);

protected:
    void run() override;
    void onPause() override;
    void onResume() override;
    void onCancel() override;

private:
    DownloadRun::Hooks hooks();
    void ended(const Result<RunSummary> &result);
    // Takes what the workers left on the board since the last time.
    void collect();
    void publish();
    double now() const { return m_clock.monotonicSeconds(); }

    TransferCoordinator &m_coordinator;
    const Clock &m_clock;
    YandexRunSetup m_setup;
    ControlGate m_gate;
    ProgressBoard m_board;
    DownloadRun m_run;
    QTimer m_refresh;
    DownloadRateMeter m_rateMeter;
    QHash<QString, qint64> m_active; // files in flight and their latest byte count
    QSet<QString> m_completedIds;
    qint64 m_completedBytes = 0;
    int m_completedFiles = 0;
    int m_totalFiles = -1;
    qint64 m_totalBytes = -1;
    QString m_outputPath;
    bool m_producedFolder = false;
    bool m_waitingForNetwork = false;
    BackgroundWork m_work{this};
};
