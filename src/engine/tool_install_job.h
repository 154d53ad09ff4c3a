#pragma once

#include "app/background_work.h"
#include "app/job.h"
#include "engine/tool_installer.h"

#include <optional>

// One install of what is due of the engine and the JavaScript runtime beside it, as one job with
// one progress bar over both downloads (each takes the share of its size; the amounts are the
// estimated bytes of the downloads). The engine goes first; the runtime is still tried when the
// engine failed, unless the job was cancelled. Succeeds when the engine installed or was not due;
// the result of each tool is kept for the owner, EnginePreparation, which records them.
class ToolInstallJob : public Job {
    Q_OBJECT
public:
    struct Step {
        ToolInstaller installer;
        std::optional<QString> installedDigest; // read by the owner: preferences stay on its thread
    };
    struct Results {
        std::optional<Result<InstallResult>> engine;  // none: not due
        std::optional<Result<InstallResult>> runtime; // none: not due, or no runtime
    };

    ToolInstallJob(std::optional<Step> engine, std::optional<Step> runtime, ToolFolderUsage *usage,
                   QObject *parent = nullptr);

    const Results &results() const { return m_results; }

protected:
    void run() override;
    void onCancel() override { m_work.stop(); }

private:
    Results install(const CancelToken &cancel);
    std::function<void(double)> reporter(double from, double share);

    std::optional<Step> m_engine;
    std::optional<Step> m_runtime;
    ToolFolderUsage *m_usage;
    qint64 m_totalBytes = 0;
    Results m_results;
    BackgroundWork m_work{this};
};
