#include "engine/engine_preparation.h"

#include <QThread>

EnginePreparation::EnginePreparation(ToolInstaller installer, Preferences &prefs,
                                     const Clock &clock, QStringList systemCandidates,
                                     QObject *parent)
    : QObject(parent), m_installer(std::move(installer)), m_prefs(prefs), m_clock(clock),
      m_systemCandidates(std::move(systemCandidates))
{
    m_ready = existingExecutable().has_value();
}

EnginePreparation::~EnginePreparation()
{
    if (m_thread) {
        m_cancel.cancel();
        m_thread->wait();
        delete m_thread;
    }
}

std::optional<QString> EnginePreparation::existingExecutable() const
{
    QStringList candidates{m_installer.installedExecutable(), m_installer.legacyExecutable()};
    candidates << m_systemCandidates;
    return firstExecutable(candidates);
}

bool EnginePreparation::needsRefresh() const
{
    return m_installer.needsRefresh(m_prefs, m_clock.wallTime());
}

QString EnginePreparation::startingStatus() const
{
    if (requiresFastEngineInstall())
        return QStringLiteral("Один раз устанавливаю быстрый движок (≈51 МБ)…");
    return QStringLiteral("Проверяю поддержку платформы…");
}

void EnginePreparation::prepare(bool forceRefresh, QObject *context, std::function<void(bool)> done)
{
    if (!forceRefresh && !m_thread) {
        if (m_refreshCompleted) {
            answerLater(context, std::move(done), m_ready);
            return;
        }
        if (!needsRefresh()) {
            setReady(existingExecutable().has_value());
            m_refreshCompleted = true;
            answerLater(context, std::move(done), m_ready);
            return;
        }
    }
    // A forced refresh means the current engine just failed: until it ends, the run's refresh
    // no longer counts as done.
    if (forceRefresh)
        m_refreshCompleted = false;
    m_waiters.push_back({context ? context : this, std::move(done)});
    if (!m_thread)
        startInstall();
}

void EnginePreparation::answerLater(QObject *context, std::function<void(bool)> done, bool ready)
{
    QMetaObject::invokeMethod(
        context ? context : this,
        [done = std::move(done), ready] {
            if (done)
                done(ready);
        },
        Qt::QueuedConnection);
}

void EnginePreparation::startInstall()
{
    // Preferences belong to this thread; the worker gets what it needs up front.
    const std::optional<QString> digest = m_installer.installedDigest(m_prefs);
    const ToolInstaller installer = m_installer;
    const CancelToken cancel = m_cancel;
    ToolFolderUsage *usage = &m_usage;
    m_thread = QThread::create([this, installer, digest, cancel, usage] {
        const auto progress = [this](double value) {
            QMetaObject::invokeMethod(
                this, [this, value] { setProgress(value); }, Qt::QueuedConnection);
        };
        const Result<InstallResult> result = installer.install(digest, progress, cancel, usage);
        QMetaObject::invokeMethod(
            this, [this, result] { installEnded(result); }, Qt::QueuedConnection);
    });
    if (requiresFastEngineInstall())
        setProgress(0.0);
    m_thread->start();
}

void EnginePreparation::installEnded(const Result<InstallResult> &result)
{
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;

    bool ready = false;
    bool refreshed = false;
    if (result.ok()) {
        m_installer.recordSuccess(m_prefs, result.value(), m_clock.wallTime());
        ready = true;
        refreshed = true;
    } else {
        // The error is dropped on purpose: an older or package-manager engine keeps the
        // program usable, and the next analysis tries again.
        ready = existingExecutable().has_value();
    }
    setReady(ready);
    m_refreshCompleted = refreshed;
    setProgress(std::nullopt);

    std::vector<Waiter> waiters = std::exchange(m_waiters, {});
    for (Waiter &waiter : waiters) {
        if (waiter.context && waiter.done)
            waiter.done(ready);
    }
    emit preparationFinished(ready, refreshed);
}

void EnginePreparation::setReady(bool ready)
{
    if (m_ready == ready)
        return;
    m_ready = ready;
    emit engineReadyChanged(ready);
}

void EnginePreparation::setProgress(std::optional<double> progress)
{
    // A progress report queued before the end must not reopen a finished install.
    if (progress && !m_thread)
        return;
    if (m_progress == progress)
        return;
    m_progress = progress;
    emit installProgressChanged();
}
