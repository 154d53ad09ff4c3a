#include "yandex/yandex_run_job.h"

#include "yandex/transfer_coordinator.h"

namespace {

// The rate meter's one stream: every byte the run receives, so that files which start and
// finish between two refreshes still count.
const QString kRunStream = QStringLiteral("run");

} // namespace

YandexRunJob::YandexRunJob(const YandexAPI &api, TransferCoordinator &coordinator,
                           const Clock &clock, YandexRunSetup setup, QObject *parent)
    : Job(parent), m_coordinator(coordinator), m_clock(clock), m_setup(std::move(setup)),
      m_run(api, coordinator, m_gate, m_board, hooks()), m_outputPath(m_setup.destinationRoot)
{
    m_refresh.setInterval(m_setup.refreshIntervalMs);
    connect(&m_refresh, &QTimer::timeout, this, [this] {
        const bool waiting = m_setup.waitingForNetwork && m_setup.waitingForNetwork();
        if (waiting != m_waitingForNetwork) {
            m_waitingForNetwork = waiting;
            emit networkWaitChanged(waiting);
        }
        collect();
        publish();
        if (m_board.anyActivity())
            emit refreshed(progress());
    });
}

DownloadRun::Hooks YandexRunJob::hooks()
{
    // Called on the run's threads; what they tell is handled here on the UI thread.
    DownloadRun::Hooks hooks;
    hooks.status = [this](const QString &text) {
        m_work.post([this, text] { emit stageReached(text); });
    };
    hooks.output = [this](const QString &path) {
        m_work.post([this, path] {
            m_outputPath = path;
            emit outputChosen(path);
        });
    };
    hooks.totals = [this](int files, qint64 bytes) {
        m_work.post([this, files, bytes] {
            m_totalFiles = files;
            m_totalBytes = bytes;
            publish();
        });
    };
    return hooks;
}

YandexRunJob::~YandexRunJob()
{
    // The body watches the gate and the transfers, not the worker's own token: stop those, and
    // the worker's destructor then waits for a body that is already unwinding.
    if (m_work.isRunning()) {
        m_gate.cancel();
        m_coordinator.stop(m_gate);
    }
}

void YandexRunJob::run()
{
    m_rateMeter.reset(now());
    // The run's received-bytes counter starts at zero; seeding it now lets the first bytes
    // count as speed instead of becoming the baseline.
    m_rateMeter.record(kRunStream, 0, now());
    m_refresh.start();
    m_work.start(
        [this, setup = m_setup](const CancelToken &) {
            return m_run.perform(setup.link, setup.destinationRoot, setup.maxConcurrent,
                                 setup.continueInto);
        },
        [this](const Result<RunSummary> &result) { ended(result); });
}

void YandexRunJob::onPause()
{
    m_rateMeter.restartWindow(now());
    // The gate first: an attempt that a worker starts a moment later is bounced by it, and the
    // run's connections close at once, so no byte moves once pause() returns.
    m_gate.pause();
    m_coordinator.suspend(m_gate);
}

void YandexRunJob::onResume()
{
    m_rateMeter.restartWindow(now());
    m_gate.resume();
}

void YandexRunJob::onCancel()
{
    // The gate's token first: a worker about to start a transfer sees it before the
    // coordinator's cancel could miss that transfer.
    m_gate.cancel();
    m_coordinator.stop(m_gate);
}

void YandexRunJob::ended(const Result<RunSummary> &result)
{
    m_refresh.stop();
    // Whatever the workers finished before the end counts in the closing figures.
    collect();
    publish();
    if (!result) {
        finish(JobResult::failed(result.error()));
        return;
    }
    m_outputPath = result.value().outputPath;
    m_producedFolder = result.value().isFolder;
    finish(JobResult::succeeded());
}

void YandexRunJob::collect()
{
    ProgressBoard::Snapshot snapshot = m_board.take();
    for (auto it = snapshot.written.cbegin(); it != snapshot.written.cend(); ++it) {
        if (!m_completedIds.contains(it.key()))
            m_active.insert(it.key(), it.value());
    }
    for (const auto &[id, size] : std::as_const(snapshot.completed)) {
        if (m_completedIds.contains(id))
            continue;
        m_completedIds.insert(id);
        m_active.remove(id);
        ++m_completedFiles;
        m_completedBytes += size;
    }
    m_rateMeter.record(kRunStream, snapshot.receivedBytes, now());
    // Bytes that were already on their way when the run paused are no speed.
    if (state() == JobState::Paused)
        m_rateMeter.restartWindow(now());
}

void YandexRunJob::publish()
{
    Progress progress;
    progress.doneBytes = m_completedBytes;
    for (const qint64 written : std::as_const(m_active))
        progress.doneBytes += written;
    progress.totalBytes = m_totalBytes;
    progress.doneFiles = m_completedFiles;
    progress.totalFiles = m_totalFiles;
    if (state() != JobState::Paused)
        progress.bytesPerSecond = m_rateMeter.bytesPerSecond(now());
    setProgress(progress);
}
