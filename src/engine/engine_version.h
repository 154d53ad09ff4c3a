#pragma once

#include <QDate>
#include <QHash>
#include <QString>
#include <QStringList>

#include <future>
#include <mutex>
#include <optional>

// What the program knows about one engine build: the date its version names. Builds are
// dated ("2023.03.04", nightly "2025.11.12.232853"); options arrive with dated releases.
struct EngineCapabilities {
    std::optional<QDate> version; // none: unknown, treated as old

    // "--progress-delta" first shipped in the 2024.04.09 release.
    bool knowsProgressDelta() const { return version && *version >= QDate(2024, 4, 9); }
    // Seconds between progress lines that the program itself enforces (0: the engine does).
    double ownProgressIntervalSeconds() const { return knowsProgressDelta() ? 0.0 : 0.5; }
    // "--js-runtimes" and "--no-js-runtimes" (an outside runtime for YouTube's player
    // challenges) first shipped in the 2025.11.12 release.
    bool knowsJsRuntimes() const { return version && *version >= QDate(2025, 11, 12); }
};

// Reads the date from the engine's "--version" answer; nothing when it is not dated.
std::optional<QDate> parseEngineVersion(const QString &output);

// Asks each program (engine builds, JavaScript runtimes) for its version once and remembers the
// answer in memory; callers that ask while a probe runs wait for the same answer. The file's
// size and modification time are part of the key, so a refreshed build at the same path is
// asked again. Thread-safe; the calls block, so use them off the UI thread. Owned by the video
// side's model and shared with its jobs.
//
// Only answers are remembered: a probe that timed out (a slow disk at start-up, a busy machine)
// or could not start is asked again next time, or one bad moment would cost every later run its
// options for as long as the program runs.
class VersionProbe {
public:
    static constexpr double kProbeTimeoutSeconds = 30;

    explicit VersionProbe(double timeoutSeconds = kProbeTimeoutSeconds)
        : m_timeoutSeconds(timeoutSeconds)
    {
    }

    // The program's standard output for `leading` + "--version"; none when it failed or did not
    // answer.
    std::optional<QString> versionText(const QString &executable, const QStringList &leading = {});
    EngineCapabilities capabilities(const QString &engine);

private:
    const double m_timeoutSeconds;
    std::mutex m_mutex;
    QHash<QString, std::shared_future<std::optional<QString>>> m_known;
};
