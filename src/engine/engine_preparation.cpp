#include "engine/engine_preparation.h"

EnginePreparation::EnginePreparation(ToolInstaller installer, Preferences &prefs,
                                     const Clock &clock, QStringList systemCandidates,
                                     std::optional<RuntimeSetup> runtime, QObject *parent)
    : QObject(parent), m_installer(std::move(installer)), m_runtime(std::move(runtime)),
      m_prefs(prefs), m_clock(clock), m_systemCandidates(std::move(systemCandidates))
{
    m_ready = existingExecutable().has_value();
}

// The install job, if any, goes with its worker: destroying it stops and waits for the install.
EnginePreparation::~EnginePreparation() = default;

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
    if (!forceRefresh && !m_job) {
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
    if (!m_job)
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
    std::optional<ToolInstallJob::Step> engine;
    if (force || m_installer.needsRefresh(m_prefs, now))
        engine = ToolInstallJob::Step{m_installer, m_installer.installedDigest(m_prefs)};
    std::optional<ToolInstallJob::Step> runtime;
    if (m_runtime && (force || m_runtime->installer.needsRefresh(m_prefs, now)))
        runtime = ToolInstallJob::Step{m_runtime->installer,
                                       m_runtime->installer.installedDigest(m_prefs)};
    const bool firstInstall = (engine && m_installer.requiresInstall())
                              || (runtime && runtime->installer.requiresInstall());

    m_job = std::make_unique<ToolInstallJob>(std::move(engine), std::move(runtime), &m_usage);
    connect(m_job.get(), &Job::progressChanged, this, [this](const Progress &progress) {
        if (progress.doneBytes > 0 || m_progress)
            setProgress(progress.fraction());
    });
    connect(m_job.get(), &Job::finished, this, &EnginePreparation::installEnded);
    // A first install shows its bar from the start; a refresh only once bytes move.
    if (firstInstall)
        setProgress(0.0);
    m_job->start();
}

void EnginePreparation::installEnded()
{
    // The job goes once its finished() has returned; isPreparing() is already false for
    // everyone the waiters call.
    const ToolInstallJob::Results results = m_job->results();
    m_job.release()->deleteLater();

    const QDateTime now = m_clock.wallTime();
    // An engine that was not due counts as refreshed; a failed engine install is dropped on
    // purpose: an older or package-manager engine keeps the program usable, and the next
    // analysis tries again. The runtime never decides readiness.
    bool refreshed = true;
    if (results.engine) {
        refreshed = results.engine->ok();
        if (refreshed)
            m_installer.recordSuccess(m_prefs, results.engine->value(), now);
    }
    if (results.runtime && results.runtime->ok())
        m_runtime->installer.recordSuccess(m_prefs, results.runtime->value(), now);
    const bool ready = (results.engine && refreshed) || existingExecutable().has_value();
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
    if (progress && !m_job)
        return;
    if (m_progress == progress)
        return;
    m_progress = progress;
    emit installProgressChanged();
}
