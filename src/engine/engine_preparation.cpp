#include "engine/engine_preparation.h"

#include <QThread>

EnginePreparation::EnginePreparation(ToolInstaller installer, Preferences &prefs,
                                     const Clock &clock, QStringList systemCandidates,
                                     std::optional<RuntimeSetup> runtime, QObject *parent)
    : QObject(parent), m_installer(std::move(installer)), m_runtime(std::move(runtime)),
      m_prefs(prefs), m_clock(clock), m_systemCandidates(std::move(systemCandidates))
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

QList<JsRuntime> EnginePreparation::runtimeCandidates() const
{
    if (!m_runtime)
        return {};
    QList<JsRuntime> candidates{
        {JsRuntime::Kind::Deno, m_runtime->installer.installedExecutable()}};
    return candidates + m_runtime->systemCandidates;
}

bool EnginePreparation::needsRefresh() const
{
    const QDateTime now = m_clock.wallTime();
    return m_installer.needsRefresh(m_prefs, now)
           || (m_runtime && m_runtime->installer.needsRefresh(m_prefs, now));
}

QString EnginePreparation::startingStatus() const
{
    int megabytes = 0;
    if (m_installer.requiresInstall())
        megabytes += m_installer.tool().downloadMegabytes;
    if (m_runtime && m_runtime->installer.requiresInstall())
        megabytes += m_runtime->installer.tool().downloadMegabytes;
    if (megabytes > 0)
        return QStringLiteral("Один раз устанавливаю быстрый движок (≈%1 МБ)…").arg(megabytes);
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
        startInstall(forceRefresh);
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

void EnginePreparation::startInstall(bool force)
{
    const QDateTime now = m_clock.wallTime();
    const bool engineDue = force || m_installer.needsRefresh(m_prefs, now);
    std::optional<ToolInstaller> runtime;
    if (m_runtime && (force || m_runtime->installer.needsRefresh(m_prefs, now)))
        runtime = m_runtime->installer;
    // Preferences belong to this thread; the worker gets what it needs up front.
    const std::optional<QString> engineDigest = m_installer.installedDigest(m_prefs);
    const std::optional<QString> runtimeDigest =
        runtime ? runtime->installedDigest(m_prefs) : std::nullopt;
    // One rising bar over both downloads, each taking the share of its size.
    const double engineSize = engineDue ? m_installer.tool().downloadMegabytes : 0;
    const double runtimeSize = runtime ? runtime->tool().downloadMegabytes : 0;
    const double engineShare = engineSize + runtimeSize > 0
                                   ? engineSize / (engineSize + runtimeSize)
                                   : (engineDue ? 1.0 : 0.0);
    const ToolInstaller engine = m_installer;
    const CancelToken cancel = m_cancel;
    ToolFolderUsage *usage = &m_usage;
    m_thread = QThread::create([=, this] {
        const auto progress = [this](double from, double share) {
            return [this, from, share](double value) {
                const double overall = from + share * value;
                QMetaObject::invokeMethod(
                    this, [this, overall] { setProgress(overall); }, Qt::QueuedConnection);
            };
        };
        Outcome outcome;
        if (engineDue)
            outcome.engine = engine.install(engineDigest, progress(0, engineShare), cancel, usage);
        if (runtime && !cancel.isCancelled())
            outcome.runtime = runtime->install(
                runtimeDigest, progress(engineShare, 1 - engineShare), cancel, usage);
        QMetaObject::invokeMethod(
            this, [this, outcome] { installEnded(outcome); }, Qt::QueuedConnection);
    });
    if ((engineDue && m_installer.requiresInstall()) || (runtime && runtime->requiresInstall()))
        setProgress(0.0);
    m_thread->start();
}

void EnginePreparation::installEnded(const Outcome &outcome)
{
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;

    const QDateTime now = m_clock.wallTime();
    // An engine that was not due counts as refreshed; a failed engine install is dropped on
    // purpose: an older or package-manager engine keeps the program usable, and the next
    // analysis tries again. The runtime never decides readiness.
    bool refreshed = true;
    if (outcome.engine) {
        refreshed = outcome.engine->ok();
        if (refreshed)
            m_installer.recordSuccess(m_prefs, outcome.engine->value(), now);
    }
    if (outcome.runtime && outcome.runtime->ok())
        m_runtime->installer.recordSuccess(m_prefs, outcome.runtime->value(), now);
    const bool ready = (outcome.engine && refreshed) || existingExecutable().has_value();
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
