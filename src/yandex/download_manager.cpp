#include "yandex/download_manager.h"

#include "app/byte_format.h"
#include "app/platform/preference_keys.h"
#include "app/platform/preference_values.h"
#include "yandex/control_gate.h"
#include "yandex/download_run.h"
#include "yandex/progress_board.h"
#include "yandex/public_link.h"
#include "yandex/transfer_coordinator.h"
#include "yandex/yandex_api.h"

#include <QFileInfo>
#include <QPointer>

namespace {

constexpr int kDefaultConcurrent = 4;
constexpr int kMinConcurrent = 1;
constexpr int kMaxConcurrent = 8;
constexpr int kHistoryLimit = 200;

int storedConcurrency(const Preferences &prefs)
{
    const std::optional<qint64> stored =
        readInteger(prefs, QString(PreferenceKeys::kConcurrentDownloads));
    if (stored && *stored >= kMinConcurrent && *stored <= kMaxConcurrent)
        return int(*stored);
    return kDefaultConcurrent;
}

} // namespace

DownloadManager::DownloadManager(Services services, Options options, QObject *parent)
    : QObject(parent), m_http(services.http), m_preferences(services.preferences),
      m_clock(services.clock), m_desktop(services.desktop), m_options(std::move(options)),
      m_destination(services.locations.downloads()),
      m_concurrentDownloads(storedConcurrency(services.preferences)),
      m_status(QStringLiteral("Готов к загрузке")),
      m_history(services.preferences, services.desktop, QString(PreferenceKeys::kYandexHistory),
                kHistoryLimit)
{
    if (!m_options.sleep)
        m_options.sleep = realSleep();

    YandexAPI::Options apiOptions;
    apiOptions.baseUrl = m_options.apiBaseUrl;
    apiOptions.sleep = m_options.sleep;
    m_api = std::make_unique<YandexAPI>(m_http, apiOptions);

    TransferCoordinator::Options transferOptions;
    transferOptions.caBundlePath = m_options.caBundlePath;
    transferOptions.sleep = m_options.sleep;
    m_coordinator = std::make_unique<TransferCoordinator>(transferOptions);

    m_refreshTimer.setInterval(m_options.refreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] {
        if (m_phase != DownloadPhase::Running && m_phase != DownloadPhase::Paused)
            return;
        collectProgress();
        // The texts switch to progress once the first transfer has reported, so that the
        // scan's texts stay visible until then.
        if (m_board && m_board->anyActivity())
            refreshProgress();
    });
}

DownloadManager::~DownloadManager()
{
    if (m_runThread.joinable()) {
        m_gate->cancel();
        m_coordinator->cancelAll();
        m_runThread.join();
    }
}

void DownloadManager::setPublicLink(const QString &link)
{
    if (link == m_publicLink)
        return;
    m_publicLink = link;
    emit publicLinkChanged();
}

void DownloadManager::setConcurrentDownloads(int count)
{
    const int clamped = std::clamp(count, kMinConcurrent, kMaxConcurrent);
    m_preferences.setValue(QString(PreferenceKeys::kConcurrentDownloads), clamped);
    if (clamped == m_concurrentDownloads)
        return;
    m_concurrentDownloads = clamped;
    emit concurrentDownloadsChanged();
}

bool DownloadManager::canStart() const
{
    return m_phase == DownloadPhase::Idle || m_phase == DownloadPhase::Done
           || m_phase == DownloadPhase::Failed || m_phase == DownloadPhase::Canceled;
}

bool DownloadManager::isControllable() const
{
    return m_phase == DownloadPhase::Running || m_phase == DownloadPhase::Paused;
}

void DownloadManager::start()
{
    if (!canStart())
        return;
    Result<YandexPublicLink> link = validatePublicURL(m_publicLink);
    if (!link) {
        setPhase(DownloadPhase::Failed);
        setStatus(link.error().description());
        return;
    }
    const QFileInfo destination(m_destination);
    if (!destination.isDir() || !destination.isWritable()) {
        setPhase(DownloadPhase::Failed);
        setStatus(QStringLiteral("Нет доступа на запись в выбранную папку"));
        return;
    }

    m_gate = std::make_shared<ControlGate>();
    m_board = std::make_shared<ProgressBoard>();
    m_activeProgress.clear();
    m_completedIDs.clear();
    m_completedBytes = m_totalBytes = 0;
    m_completedFiles = m_totalFiles = 0;
    m_refreshTimer.stop();
    m_rateMeter.reset(now());
    // The run's received-bytes counter starts at zero; seeding it now lets the first
    // bytes count as speed instead of becoming the baseline.
    m_rateMeter.record(QStringLiteral("run"), 0, now());
    setProgressValue(0);
    setHasDeterminateProgress(false);
    m_currentOutputPath = m_destination;
    setDetail(m_destination);
    setPhase(DownloadPhase::Running);
    setStatus(QStringLiteral("Проверяется ссылка…"));

    // The hops hold the manager through Qt's context object: events for a destroyed
    // manager are dropped, and the destructor joins the run before that.
    DownloadRun::Hooks hooks;
    hooks.status = [this](const QString &text) {
        QMetaObject::invokeMethod(
            this, [this, text] { applyRunStatus(text); }, Qt::QueuedConnection);
    };
    hooks.output = [this](const QString &path) {
        QMetaObject::invokeMethod(
            this, [this, path] { applyRunOutput(path); }, Qt::QueuedConnection);
    };
    hooks.totals = [this](int files, qint64 bytes) {
        QMetaObject::invokeMethod(
            this, [this, files, bytes] { applyRunTotals(files, bytes); }, Qt::QueuedConnection);
    };
    m_run =
        std::make_unique<DownloadRun>(*m_api, *m_coordinator, *m_gate, *m_board, std::move(hooks));
    m_refreshTimer.start();
    m_runThread = std::thread([this, link = link.value(), destinationRoot = m_destination,
                               maxConcurrent = m_concurrentDownloads] {
        Result<RunSummary> result = m_run->perform(link, destinationRoot, maxConcurrent);
        QMetaObject::invokeMethod(
            this, [this, result] { finishRun(result); }, Qt::QueuedConnection);
    });
}

void DownloadManager::pause()
{
    if (m_phase != DownloadPhase::Running)
        return;
    setPhase(DownloadPhase::Paused);
    setStatus(QStringLiteral("На паузе"));
    m_rateMeter.restartWindow(now());
    refreshProgress();
    m_coordinator->suspendAll();
    m_gate->pause();
}

void DownloadManager::resume()
{
    if (m_phase != DownloadPhase::Paused)
        return;
    setPhase(DownloadPhase::Running);
    setStatus(QStringLiteral("Возобновляется…"));
    m_rateMeter.restartWindow(now());
    m_coordinator->resumeAll();
    m_gate->resume();
}

void DownloadManager::stop()
{
    if (!isControllable())
        return;
    setPhase(DownloadPhase::Stopping);
    setStatus(QStringLiteral("Останавливается…"));
    // The gate's token first: a worker about to start a transfer sees it before the
    // coordinator's cancel could miss that transfer.
    m_gate->cancel();
    m_coordinator->cancelAll();
}

void DownloadManager::applyRunStatus(const QString &status)
{
    // A pause or stop text stays until the user changes the state again.
    if (m_phase == DownloadPhase::Running)
        setStatus(status);
}

void DownloadManager::applyRunOutput(const QString &path)
{
    m_currentOutputPath = path;
    setDetail(path);
}

void DownloadManager::applyRunTotals(int files, qint64 bytes)
{
    m_totalFiles = files;
    m_totalBytes = bytes;
    setHasDeterminateProgress(bytes > 0);
}

void DownloadManager::finishRun(const Result<RunSummary> &result)
{
    if (m_runThread.joinable())
        m_runThread.join();
    m_run.reset();
    // Whatever the workers finished before the end counts in the closing texts.
    collectProgress();
    refreshProgress();
    m_refreshTimer.stop();

    if (result) {
        const RunSummary &summary = result.value();
        const QString size = formatByteCount(std::max<qint64>(m_completedBytes, 0),
                                             ByteUnit::Kilobyte, ByteUnit::Terabyte);
        setPhase(DownloadPhase::Done);
        setDetail(summary.outputPath);
        setStatus(summary.isFolder
                      ? QStringLiteral("Готово · %1 файлов · %2").arg(m_totalFiles).arg(size)
                      : QStringLiteral("Готово · %1").arg(size));
        addHistory(DownloadHistoryItem::Result::Completed);
    } else if (m_phase == DownloadPhase::Stopping) {
        setPhase(DownloadPhase::Canceled);
        setStatus(QStringLiteral("Остановлено · готовые файлы сохранены"));
        addHistory(DownloadHistoryItem::Result::Canceled);
    } else {
        setPhase(DownloadPhase::Failed);
        setStatus(QStringLiteral("Ошибка: ") + result.error().description());
        addHistory(DownloadHistoryItem::Result::Failed);
    }
}

void DownloadManager::chooseDestination()
{
    QPointer<DownloadManager> self(this);
    m_desktop.chooseFolder(QStringLiteral("Куда скачивать"), QStringLiteral("Выбрать"),
                           m_destination, [self](std::optional<QString> folder) {
                               if (self && folder)
                                   self->setDestination(*folder);
                           });
}

void DownloadManager::openDestination()
{
    m_desktop.openFolder(m_destination);
}

void DownloadManager::revealInFinder(const DownloadHistoryItem &item)
{
    m_history.reveal(item);
}

void DownloadManager::removeHistoryItem(const DownloadHistoryItem &item)
{
    m_history.remove(item);
    emit historyChanged();
}

void DownloadManager::clearHistory()
{
    m_history.clear();
    emit historyChanged();
}
