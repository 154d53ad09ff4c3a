#include "yandex/download_manager.h"

#include "app/byte_format.h"
#include "app/platform/preference_keys.h"
#include "app/platform/preference_values.h"
#include "app/platform/system_network_reachability.h"
#include "app/rate_meter.h"
#include "yandex/network_outage.h"
#include "yandex/public_link.h"
#include "yandex/transfer_coordinator.h"
#include "yandex/yandex_api.h"
#include "yandex/yandex_run_job.h"

#include <QFileInfo>
#include <QUuid>

#include <algorithm>

namespace {

constexpr int kDefaultConcurrent = 4;
const QString kNetworkWaitText = QStringLiteral("Нет подключения к интернету — жду…");
constexpr int kHistoryLimit = 200;

int storedConcurrency(const Preferences &prefs)
{
    const std::optional<qint64> stored =
        readInteger(prefs, QString(PreferenceKeys::kConcurrentDownloads));
    if (stored && *stored >= 1 && *stored <= DownloadManager::kMaxConcurrentDownloads)
        return int(*stored);
    return kDefaultConcurrent;
}

QString sizeText(qint64 bytes)
{
    return formatByteCount(std::max<qint64>(bytes, 0), ByteUnit::Kilobyte, ByteUnit::Terabyte);
}

// The state with the texts of `progress`, as each refresh shows them while a run goes on; while
// the run waits for the network, the detail line says so instead of the bytes. Files download
// while a folder is still being listed: until the listing has counted them, the scan's latest
// text (`stage`) stays and the bytes have no total.
DownloadState progressShown(DownloadState state, const Progress &progress, bool waitingForNetwork,
                            const QString &stage)
{
    const bool paused = state.phase == DownloadPhase::Paused;
    if (state.phase != DownloadPhase::Running && !paused)
        return state;
    if (progress.totalBytes > 0)
        state.progressValue =
            std::min(1.0, double(progress.doneBytes) / double(progress.totalBytes));
    state.status = paused                    ? QStringLiteral("На паузе")
                   : progress.totalFiles < 0 ? stage
                                             : QStringLiteral("Готово файлов: %1 из %2")
                                                   .arg(progress.doneFiles)
                                                   .arg(progress.totalFiles);
    state.detail = QStringLiteral("Скачано: ") + sizeText(progress.doneBytes);
    if (progress.totalBytes > 0)
        state.detail += QStringLiteral(" из ") + sizeText(progress.totalBytes);
    state.detail += QStringLiteral(" · ")
                    + DownloadRateMeter::speedText(paused ? std::nullopt : progress.bytesPerSecond);
    if (waitingForNetwork)
        state.detail = kNetworkWaitText;
    return state;
}

} // namespace

bool DownloadState::canStart() const
{
    return phase == DownloadPhase::Idle || phase == DownloadPhase::Done
           || phase == DownloadPhase::Failed || phase == DownloadPhase::Canceled;
}

bool DownloadState::isControllable() const
{
    return phase == DownloadPhase::Running || phase == DownloadPhase::Paused;
}

DownloadManager::DownloadManager(Services services, Options options, QObject *parent)
    : QObject(parent), m_preferences(services.preferences), m_clock(services.clock),
      m_options(std::move(options)),
      m_destination(services.locations.downloads(), services.desktop),
      m_history(services.preferences, services.desktop, QString(PreferenceKeys::kYandexHistory),
                kHistoryLimit),
      m_runLinks(services.preferences)
{
    // A link leaves with its record: removed, cleared, or dropped past the limit.
    connect(&m_history, &DownloadHistory::changed, this,
            [this] { m_runLinks.keepOnly(m_history.items()); });
    m_runLinks.keepOnly(m_history.items());
    if (!m_options.sleep)
        m_options.sleep = realSleep();
    m_state.concurrentDownloads = storedConcurrency(m_preferences);

    NetworkReachability *reachability = m_options.reachability;
    if (!reachability) {
        m_ownReachability = std::make_unique<SystemNetworkReachability>();
        reachability = m_ownReachability.get();
    }
    m_outage = std::make_unique<NetworkOutage>(*reachability, m_options.networkWaitSeconds,
                                               m_options.networkPollSeconds);

    YandexAPI::Options apiOptions;
    apiOptions.baseUrl = m_options.apiBaseUrl;
    apiOptions.sleep = m_options.sleep;
    apiOptions.outage = m_outage.get();
    m_api = std::make_unique<YandexAPI>(services.http, apiOptions);

    TransferCoordinator::Options transferOptions;
    transferOptions.caBundlePath = m_options.caBundlePath;
    transferOptions.sleep = m_options.sleep;
    transferOptions.outage = m_outage.get();
    m_coordinator = std::make_unique<TransferCoordinator>(transferOptions);
}

DownloadManager::~DownloadManager() = default;

void DownloadManager::setPublicLink(const QString &link)
{
    DownloadState next = m_state;
    next.publicLink = link;
    publish(next);
}

void DownloadManager::setConcurrentDownloads(int count)
{
    DownloadState next = m_state;
    next.concurrentDownloads = std::clamp(count, 1, kMaxConcurrentDownloads);
    m_preferences.setValue(QString(PreferenceKeys::kConcurrentDownloads), next.concurrentDownloads);
    publish(next);
}

void DownloadManager::start()
{
    if (m_state.canStart())
        startRun(m_destination.path(), QString());
}

bool DownloadManager::canContinue(const DownloadHistoryItem &item) const
{
    if (!m_state.canStart() || item.result == DownloadHistoryItem::Result::Completed
        || !m_runLinks.link(item.id))
        return false;
    const QFileInfo produced(item.path);
    return produced.isDir() || QFileInfo(produced.absolutePath()).isDir();
}

void DownloadManager::continueRun(const DownloadHistoryItem &item)
{
    if (!canContinue(item))
        return;
    setPublicLink(*m_runLinks.link(item.id));
    startRun(QFileInfo(item.path).absolutePath(), item.path);
}

void DownloadManager::startRun(const QString &root, const QString &continueInto)
{
    DownloadState next = m_state;
    next.phase = DownloadPhase::Failed;
    // A rejected start is a start too: the last run's bar and bytes no longer describe anything.
    next.detail.clear();
    next.progressValue = 0;
    next.hasDeterminateProgress = false;
    Result<YandexPublicLink> link = validatePublicURL(m_state.publicLink);
    if (!link) {
        next.status = link.error().description();
        publish(next);
        return;
    }
    const QFileInfo destination(root);
    if (!destination.isDir() || !destination.isWritable()) {
        next.status = QStringLiteral("Нет доступа на запись в выбранную папку");
        publish(next);
        return;
    }

    YandexRunSetup setup;
    setup.link = link.value();
    setup.destinationRoot = root;
    setup.maxConcurrent = m_state.concurrentDownloads;
    setup.refreshIntervalMs = m_options.refreshIntervalMs;
    setup.continueInto = continueInto;
    m_runLink = m_state.publicLink;
    m_runRoot = root;
    setup.waitingForNetwork = [outage = m_outage.get()] { return outage->anyWaiting(); };
    m_job = std::make_unique<YandexRunJob>(*m_api, *m_coordinator, m_clock, setup, this);
    connectJob();

    next.phase = DownloadPhase::Running;
    next.status = QStringLiteral("Проверяется ссылка…");
    next.detail = root;
    next.progressValue = 0;
    next.hasDeterminateProgress = false;
    m_waitingForNetwork = false;
    m_stage = next.status;
    publish(next);
    m_job->start();
}

void DownloadManager::connectJob()
{
    YandexRunJob *job = m_job.get();
    connect(job, &YandexRunJob::stageReached, this, [this](const QString &text) {
        m_stage = text;
        // A pause or stop text stays until the user changes the state again.
        if (m_state.phase != DownloadPhase::Running)
            return;
        DownloadState next = m_state;
        next.status = text;
        publish(next);
    });
    connect(job, &YandexRunJob::outputChosen, this, [this](const QString &path) {
        DownloadState next = m_state;
        next.detail = path;
        publish(next);
    });
    connect(job, &Job::progressChanged, this, [this](const Progress &progress) {
        DownloadState next = m_state;
        next.hasDeterminateProgress = progress.totalBytes > 0;
        publish(next);
    });
    connect(job, &YandexRunJob::refreshed, this, [this](const Progress &progress) {
        publish(progressShown(m_state, progress, m_waitingForNetwork, m_stage));
    });
    connect(job, &YandexRunJob::networkWaitChanged, this, &DownloadManager::showNetworkWait);
    connect(job, &Job::finished, this, &DownloadManager::runFinished);
}

void DownloadManager::showNetworkWait(bool waiting)
{
    m_waitingForNetwork = waiting;
    if (!m_state.isControllable())
        return;
    DownloadState next = m_state;
    // Once the network is back, the next refresh shows the bytes again.
    next.detail = waiting ? kNetworkWaitText : m_job->outputPath();
    publish(next);
}

void DownloadManager::pause()
{
    if (m_state.phase != DownloadPhase::Running)
        return;
    DownloadState next = m_state;
    next.phase = DownloadPhase::Paused;
    m_job->pause();
    publish(progressShown(next, m_job->progress(), m_waitingForNetwork, m_stage));
}

void DownloadManager::resume()
{
    if (m_state.phase != DownloadPhase::Paused)
        return;
    DownloadState next = m_state;
    next.phase = DownloadPhase::Running;
    next.status = QStringLiteral("Возобновляется…");
    publish(next);
    m_job->resume();
}

void DownloadManager::stop()
{
    if (!m_state.isControllable())
        return;
    DownloadState next = m_state;
    next.phase = DownloadPhase::Stopping;
    next.status = QStringLiteral("Останавливается…");
    publish(next);
    m_job->cancel();
}

void DownloadManager::runFinished(const JobResult &result)
{
    YandexRunJob *job = m_job.release();
    job->deleteLater();
    const Progress &progress = job->progress();
    // The closing figures, as a last refresh would show them.
    DownloadState next = progressShown(m_state, progress, false, m_stage);
    DownloadHistoryItem::Result entry = DownloadHistoryItem::Result::Completed;
    switch (result.outcome) {
    case Outcome::Succeeded:
        next.phase = DownloadPhase::Done;
        next.detail = job->outputPath();
        next.status = job->producedFolder()
                          ? QStringLiteral("Готово · %1 файлов · %2")
                                .arg(std::max(progress.totalFiles, 0))
                                .arg(sizeText(progress.doneBytes))
                          : QStringLiteral("Готово · %1").arg(sizeText(progress.doneBytes));
        break;
    case Outcome::Cancelled:
        next.phase = DownloadPhase::Canceled;
        next.status = QStringLiteral("Остановлено · готовые файлы сохранены");
        entry = DownloadHistoryItem::Result::Canceled;
        break;
    case Outcome::Failed:
        next.phase = DownloadPhase::Failed;
        next.status = QStringLiteral("Ошибка: ") + result.message;
        entry = DownloadHistoryItem::Result::Failed;
        break;
    }
    publish(next);
    addHistory(entry, job->outputPath());
}

void DownloadManager::addHistory(DownloadHistoryItem::Result result, const QString &outputPath)
{
    QString name = QFileInfo(outputPath).fileName();
    if (name.isEmpty())
        name = m_state.publicLink;
    if (name.isEmpty())
        name = QStringLiteral("Загрузка");
    const QUuid id = QUuid::createUuid();
    m_history.add(
        DownloadHistoryItem{id, name, outputPath, m_clock.wallTime(), result, m_state.status});
    // A run that got as far as choosing its folder or file can be continued later.
    if (result != DownloadHistoryItem::Result::Completed && outputPath != m_runRoot)
        m_runLinks.add(id, m_runLink);
}

void DownloadManager::publish(const DownloadState &state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(m_state);
}
