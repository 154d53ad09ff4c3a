#include "video/analysis_job.h"

#include "engine/engine_preparation.h"
#include "video/browser_sign_in.h"
#include "video/download_failure.h"
#include "video/video_link.h"

#include <QUrl>

namespace {

const QString kCannotGetChoices = QStringLiteral("Не удалось получить варианты");

} // namespace

AnalysisJob::AnalysisJob(QString link, EnginePreparation &engine, AnalysisEnvironment environment,
                         QObject *parent)
    : Job(parent), m_link(std::move(link)), m_engine(engine), m_environment(environment)
{
}

AnalysisJob::~AnalysisJob()
{
    // The worker, which the destroyed BackgroundWork waits for, is blocked on the engine.
    m_child.stopAll();
}

QString AnalysisJob::enginePendingStatus()
{
    return QStringLiteral("Загрузки подготавливаются…");
}

QString AnalysisJob::cancelMessage() const
{
    return QStringLiteral("Получение вариантов отменено");
}

AnalysisPhase AnalysisJob::firstPhase() const
{
    return m_engine.refreshCompleted() ? AnalysisPhase::RunningEngine
                                       : AnalysisPhase::PreparingEngine;
}

QString AnalysisJob::statusOf(AnalysisPhase phase) const
{
    switch (phase) {
    case AnalysisPhase::PreparingEngine:
        return m_engine.startingStatus();
    case AnalysisPhase::RunningEngine:
        return QStringLiteral("Получаю доступные качества…");
    case AnalysisPhase::RefreshingEngine:
        return QStringLiteral("Обновляю поддержку платформы…");
    case AnalysisPhase::Idle:
        break;
    }
    return m_status;
}

void AnalysisJob::run()
{
    enter(firstPhase());
}

void AnalysisJob::onCancel()
{
    if (m_phase == AnalysisPhase::RunningEngine) {
        // The run unwinds and reports a cancel (or, if it had already ended, what it found).
        m_work.stop();
        m_child.stopAll();
        return;
    }
    // A preparation is shared with the rest of the program and keeps going; its answer to
    // this job is ignored.
    end(JobResult::cancelled(cancelMessage()), cancelMessage());
}

void AnalysisJob::enter(AnalysisPhase phase)
{
    switch (phase) {
    case AnalysisPhase::Idle:
        setStep(phase, m_status);
        return;
    case AnalysisPhase::PreparingEngine:
        setStep(phase, statusOf(phase));
        m_engine.prepare(false, this, [this](bool ready) { enginePrepared(ready); });
        return;
    case AnalysisPhase::RefreshingEngine:
        setStep(phase, statusOf(phase));
        m_engine.prepare(true, this, [this](bool ready) { engineRefreshed(ready); });
        return;
    case AnalysisPhase::RunningEngine:
        break;
    }
    const std::optional<QString> executable = m_engine.existingExecutable();
    if (!executable) {
        end(JobResult::failed(QString()), enginePendingStatus());
        return;
    }
    setStep(phase, statusOf(phase));
    AnalysisRequest request;
    request.executable = *executable;
    request.link = m_link;
    request.mode = m_mode;
    request.isYouTube = isYouTubeHost(QUrl(m_link).host());
    request.allowAutomaticRepair = m_repairAllowed;
    request.processGroups = m_environment.processGroups;
    request.engineFolderUsage = &m_engine.folderUsage();
    request.versions = m_environment.versions;
    request.runtimes = m_engine.runtimeCandidates();
    if (m_environment.signIn) {
        request.signInArguments = m_environment.signIn->argumentsFor(m_link);
        m_signInBrowser = request.signInArguments.isEmpty()
                              ? QString()
                              : m_environment.signIn->chosenName().value_or(QString());
    }
    RunningChild *child = &m_child;
    m_work.start(
        [request, child](const CancelToken &) { return runEngineAnalysis(request, *child); },
        [this](const AnalysisVerdict &verdict) { engineRunEnded(verdict); });
}

void AnalysisJob::enginePrepared(bool ready)
{
    if (isFinished())
        return;
    if (!ready) {
        end(JobResult::failed(QStringLiteral("Не удалось загрузить поддержку видеоплатформ. "
                                             "Проверьте интернет-соединение.")),
            QStringLiteral("Не удалось подготовить загрузки"));
        return;
    }
    enter(AnalysisPhase::RunningEngine);
}

void AnalysisJob::engineRunEnded(const AnalysisVerdict &verdict)
{
    using Kind = AnalysisVerdict::Kind;
    if (isCancelRequested() && verdict.kind != Kind::Success) {
        end(JobResult::cancelled(cancelMessage()), cancelMessage());
        return;
    }
    switch (verdict.kind) {
    case Kind::Success:
        m_findings = AnalysisFindings{*verdict.metadata, m_mode, verdict.document};
        end(JobResult::succeeded(), m_status);
        return;
    case Kind::Cancelled:
        end(JobResult::cancelled(cancelMessage()), cancelMessage());
        return;
    case Kind::Fallback:
        // Shown for a moment only: the next run's status follows at once.
        setStep(m_phase, QStringLiteral("Пробую запасной режим YouTube…"));
        m_mode = verdict.nextMode;
        enter(AnalysisPhase::RunningEngine);
        return;
    case Kind::Repair:
        m_repairAllowed = false;
        m_diagnostic = verdict.diagnostic;
        enter(AnalysisPhase::RefreshingEngine);
        return;
    case Kind::EngineFailure:
        m_signInMayHelp = DownloadFailure::signInMayHelp(verdict.diagnostic, m_signInBrowser);
        end(JobResult::failed(DownloadFailure::explanation(verdict.diagnostic, m_signInBrowser),
                              ErrorKind::Process),
            kCannotGetChoices);
        return;
    case Kind::GenericFailure:
        end(JobResult::failed(verdict.errorText, ErrorKind::Process), kCannotGetChoices);
        return;
    }
}

void AnalysisJob::engineRefreshed(bool ready)
{
    if (isFinished())
        return;
    if (!ready) {
        end(JobResult::failed(DownloadFailure::explanation(m_diagnostic, m_signInBrowser)),
            QStringLiteral("Не удалось обновить поддержку"));
        return;
    }
    enter(AnalysisPhase::RunningEngine);
}

void AnalysisJob::end(JobResult result, const QString &status)
{
    m_status = status;
    enter(AnalysisPhase::Idle);
    finish(std::move(result));
}

void AnalysisJob::setStep(AnalysisPhase phase, const QString &status)
{
    if (m_phase == phase && m_status == status)
        return;
    m_phase = phase;
    m_status = status;
    emit stepChanged(phase, status);
}
