#pragma once

#include "video/analysis_job.h"
#include "video/browser_sign_in.h"
#include "video/status_line.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// Everything the screen draws of the link and its analysis, at once.
struct AnalysisState {
    QString link; // as the user typed it
    AnalysisPhase phase = AnalysisPhase::Idle;
    QString status = QStringLiteral("Готово к загрузке");
    std::optional<QString> error;
    std::optional<double> installProgress; // 0…1 while the engine is installed or refreshed
    bool canCancel = false;                // the engine runs and can be stopped
    // After a failure that signing in may lift: the browsers to lend their sign-in.
    QList<BrowserProfile> signInBrowsers;

    bool isWorking() const { return phase != AnalysisPhase::Idle; }
    // The cleaned link handed to the engine; none when the field holds no supported link.
    std::optional<QString> normalizedLink() const;
    bool hasValidLink() const { return normalizedLink().has_value(); }
    bool canAnalyse() const { return hasValidLink() && !isWorking(); }
};

// The link field of the video screen and the analysis of its link, one AnalysisJob at a time.
// The status line is shown here for the whole screen: the choices and the queue report through
// it too. Owned by DownloadModel; UI thread only.
class LinkAnalysis : public QObject {
    Q_OBJECT
public:
    // Turns a successful analysis into the status line it ends with (the choices it offers).
    using FindingsHandler = std::function<StatusLine(const AnalysisFindings &)>;

    LinkAnalysis(EnginePreparation &engine, AnalysisEnvironment environment,
                 FindingsHandler onFound, QObject *parent = nullptr);
    // A running analysis is stopped and waited for.
    ~LinkAnalysis() override;

    const AnalysisState &state() const { return m_state; }
    void setLink(const QString &link);
    // Starts an analysis of the link when it is valid and none runs.
    void analyse();
    // Stops a running engine; while the engine is being prepared only the status changes.
    void cancel();

    // The status line, with or without a new error; showQueued() also empties the link field,
    // which went to the queue.
    void showStatus(const QString &status);
    void showStatus(const StatusLine &line);
    void showError(const std::optional<QString> &error);
    void showQueued(const StatusLine &line);

signals:
    void stateChanged(const AnalysisState &state);

private:
    void jobStepped(AnalysisPhase phase, const QString &status);
    void jobFinished(const JobResult &result);
    void publish();

    EnginePreparation &m_engine;
    AnalysisEnvironment m_environment;
    FindingsHandler m_onFound;
    AnalysisState m_state;
    std::unique_ptr<AnalysisJob> m_job;
};
