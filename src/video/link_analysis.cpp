#include "video/link_analysis.h"

#include "engine/engine_preparation.h"
#include "video/video_link.h"

std::optional<QString> AnalysisState::normalizedLink() const
{
    return normalizeVideoLink(link);
}

LinkAnalysis::LinkAnalysis(EnginePreparation &engine, AnalysisEnvironment environment,
                           FindingsHandler onFound, QObject *parent)
    : QObject(parent), m_engine(engine), m_environment(environment), m_onFound(std::move(onFound))
{
    connect(&m_engine, &EnginePreparation::installProgressChanged, this, [this] {
        m_state.installProgress = m_engine.installProgress();
        publish();
    });
}

LinkAnalysis::~LinkAnalysis()
{
    if (m_job)
        disconnect(m_job.get(), nullptr, this, nullptr);
}

void LinkAnalysis::setLink(const QString &link)
{
    if (m_state.link == link)
        return;
    m_state.link = link;
    publish();
}

void LinkAnalysis::analyse()
{
    const std::optional<QString> link = m_state.normalizedLink();
    if (!link || m_state.isWorking())
        return;
    // With the engine's preparation already behind this run of the program, a missing engine
    // is told at once and nothing else changes.
    if (m_engine.refreshCompleted() && !m_engine.existingExecutable()) {
        showStatus(AnalysisJob::enginePendingStatus());
        return;
    }
    m_job = std::make_unique<AnalysisJob>(*link, m_engine, m_environment);
    connect(m_job.get(), &AnalysisJob::stepChanged, this, &LinkAnalysis::jobStepped);
    connect(m_job.get(), &Job::finished, this, &LinkAnalysis::jobFinished);
    m_state.error.reset();
    m_state.signInBrowsers.clear();
    m_job->start();
    // Working from now on: the controls lock before the job's first turn.
    const AnalysisPhase first = m_job->firstPhase();
    jobStepped(first, m_job->statusOf(first));
}

void LinkAnalysis::cancel()
{
    if (m_job && m_state.canCancel)
        m_job->cancel();
    showStatus(QStringLiteral("Отменяю…"));
}

void LinkAnalysis::jobStepped(AnalysisPhase phase, const QString &status)
{
    // The end is published whole when the job has finished.
    if (phase == AnalysisPhase::Idle)
        return;
    m_state.phase = phase;
    m_state.status = status;
    m_state.canCancel = phase == AnalysisPhase::RunningEngine;
    publish();
}

void LinkAnalysis::jobFinished(const JobResult &result)
{
    AnalysisJob *job = m_job.release();
    job->deleteLater();
    m_state.phase = AnalysisPhase::Idle;
    m_state.canCancel = false;
    switch (result.outcome) {
    case Outcome::Succeeded: {
        const StatusLine line = m_onFound(*job->findings());
        m_state.status = line.status;
        m_state.error = line.error;
        break;
    }
    case Outcome::Cancelled:
        m_state.status = result.message;
        m_state.error.reset();
        break;
    case Outcome::Failed:
        m_state.status = job->statusText();
        m_state.error = result.message.isEmpty() ? std::nullopt : std::optional(result.message);
        if (job->signInMayHelp() && m_environment.signIn)
            m_state.signInBrowsers = m_environment.signIn->foundBrowsers();
        break;
    }
    publish();
}

void LinkAnalysis::showStatus(const QString &status)
{
    m_state.status = status;
    publish();
}

void LinkAnalysis::showStatus(const StatusLine &line)
{
    m_state.status = line.status;
    m_state.error = line.error;
    m_state.signInBrowsers.clear();
    publish();
}

void LinkAnalysis::showError(const std::optional<QString> &error)
{
    m_state.error = error;
    m_state.signInBrowsers.clear();
    publish();
}

void LinkAnalysis::showQueued(const StatusLine &line)
{
    m_state.link.clear();
    showStatus(line);
}

void LinkAnalysis::publish()
{
    emit stateChanged(m_state);
}
