#pragma once

#include "app/platform/clock.h"
#include "app/platform/preferences.h"
#include "engine/engine_locator.h"
#include "engine/js_runtime.h"
#include "engine/tool_install_job.h"
#include "engine/tool_installer.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The JavaScript runtime installed beside the engine, and the package-manager runtimes tried
// after it.
struct RuntimeSetup {
    ToolInstaller installer;
    QList<JsRuntime> systemCandidates = systemRuntimeCandidates();
};

// Makes sure an engine is usable before the first analysis of each run of the program: installs
// or refreshes it, and the JavaScript runtime beside it, when due, in one preparation at a time
// (every caller that arrives meanwhile waits for the same one), and publishes readiness and one
// install progress for both on the UI thread. Each install is a ToolInstallJob. Readiness depends
// on the engine alone: without a runtime the engine still reaches what it can. Owned by the video
// side's model; lives and is used on the UI thread.
class EnginePreparation : public QObject {
    Q_OBJECT
public:
    // `systemCandidates`: package-manager engines tried after the installed and legacy ones.
    EnginePreparation(ToolInstaller installer, Preferences &prefs, const Clock &clock,
                      QStringList systemCandidates = systemEngineCandidates(),
                      std::optional<RuntimeSetup> runtime = std::nullopt,
                      QObject *parent = nullptr);
    // A running install is cancelled and waited for (a cancelled install stops promptly).
    ~EnginePreparation() override;

    const ToolInstaller &installer() const { return m_installer; }
    const ToolInstaller *runtimeInstaller() const
    {
        return m_runtime ? &m_runtime->installer : nullptr;
    }
    // The first usable engine executable: installed, legacy, then the package-manager ones.
    std::optional<QString> existingExecutable() const;
    // Runtimes for the engine's runs, in the order they are tried (their versions are checked
    // right before a run): the installed one, then the package-manager ones.
    QList<JsRuntime> runtimeCandidates() const;
    // The engine or the runtime is due.
    bool needsRefresh() const;

    bool engineReady() const { return m_ready; }
    // 0…1 while an install runs, none otherwise.
    std::optional<double> installProgress() const { return m_progress; }
    bool refreshCompleted() const { return m_refreshCompleted; }
    bool isPreparing() const { return m_job != nullptr; }
    // Engine runs hold a lease from here so that a refresh never swaps a folder in use.
    ToolFolderUsage &folderUsage() { return m_usage; }

    // The status line to show while a preparation starts; a first install names what it
    // downloads.
    QString startingStatus() const;

    // Prepares the engine and the runtime, each when due (both always when forced, unless a
    // preparation is running), and calls `done` with whether an engine is usable, on this
    // object's thread and never before this call returns. Never fails: a failed engine install
    // leaves an older or package-manager engine in use and is tried again by the next call; a
    // failed runtime install is tried again by the next forced or due preparation. `done` is
    // dropped if `context` is gone.
    void prepare(bool forceRefresh, QObject *context, std::function<void(bool ready)> done);

signals:
    void engineReadyChanged(bool ready);
    void installProgressChanged();
    // After each install attempt (not after the quick "nothing is due" answers).
    void preparationFinished(bool ready, bool refreshed);

private:
    struct Waiter {
        QPointer<QObject> context;
        std::function<void(bool)> done;
    };
    void startInstall(bool force);
    void installEnded();
    void setReady(bool ready);
    void setProgress(std::optional<double> progress);
    void answerLater(QObject *context, std::function<void(bool)> done, bool ready);

    ToolInstaller m_installer;
    std::optional<RuntimeSetup> m_runtime;
    Preferences &m_prefs;
    const Clock &m_clock;
    QStringList m_systemCandidates;
    ToolFolderUsage m_usage;
    std::unique_ptr<ToolInstallJob> m_job;
    std::vector<Waiter> m_waiters;
    bool m_ready = false;
    bool m_refreshCompleted = false;
    std::optional<double> m_progress;
};
