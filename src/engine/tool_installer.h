#pragma once

#include "app/app_error.h"
#include "app/cancel_token.h"
#include "app/platform/http_client.h"
#include "app/platform/preferences.h"
#include "engine/release_tool.h"
#include "engine/tool_folder_usage.h"

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// The outside world of an installer, injected: the shipped program passes the real API host
// (https://api.github.com), the user's application-support and temporary folders and the
// program's HTTP client.
struct InstallerSetup {
    QUrl feedBaseUrl;
    QString supportFolder;
    QString tempFolder;
    HttpClient *http = nullptr;
    // Renames a folder; a seam so tests can make the swap fail halfway.
    std::function<bool(const QString &from, const QString &to)> moveFolder;
};

// What a successful install did.
struct InstallResult {
    QString sha256;          // digest of the archive the installed build came from
    bool downloaded = false; // false: the installed build was already current
};

// Installs a ReleaseTool from its release feed and keeps it current: finds the asset, checks
// its SHA-256, unpacks it into a sibling staging folder and swaps folders, so the installed
// folder is never left half-written. Holds no state of its own: its state is the folder on disk
// and two preference values. install() blocks and runs on a worker thread; it never touches
// the preferences (they are not thread-safe) — the caller reads the installed digest before and
// stores the result with recordSuccess() after, on its own thread.
class ToolInstaller {
public:
    ToolInstaller(ReleaseTool tool, InstallerSetup setup);

    const ReleaseTool &tool() const { return m_tool; }
    QString programFolder() const;
    QString toolDirectory() const;
    QString installedExecutable() const;
    QString legacyExecutable() const; // empty when the tool has no legacy location
    QUrl feedUrl() const;

    // The installed executable is missing or not executable.
    bool requiresInstall() const;
    // Due when nothing is installed, nothing valid is stored, or a day (86400 s) or more has
    // passed since the last success; a stored date in the future is not due.
    bool needsRefresh(const Preferences &prefs, const QDateTime &now) const;

    // Progress: 0.05, then 0.10…0.85 during the download, 0.9 before unpacking, 1.0 at the end.
    // `usage` (optional) keeps the swap away from running engines: while a run holds a lease
    // and a previous build is in place, the install stops before downloading (or before
    // swapping) and fails as busy. A first install replaces nothing and goes ahead.
    Result<InstallResult> install(const std::optional<QString> &installedDigest,
                                  const std::function<void(double)> &progress,
                                  const CancelToken &cancel,
                                  ToolFolderUsage *usage = nullptr) const;
    void recordSuccess(Preferences &prefs, const InstallResult &result, const QDateTime &now) const;
    std::optional<QString> installedDigest(const Preferences &prefs) const;

    // Removes staging folders a dead install left behind, and backup folders when the
    // installed folder exists.
    void removeLeftovers() const;
    // Puts the staged folder in place of the installed one; on a failed second move the previous
    // folder is moved back.
    Status replaceToolDirectory(const QString &stagedFolder) const;

    static AppError busy();

private:
    QString siblingFolder(const QString &suffix) const;
    bool move(const QString &from, const QString &to) const;

    ReleaseTool m_tool;
    InstallerSetup m_setup;
};

// Whether `path` is an existing regular file the user may execute.
bool isExecutableFile(const QString &path);
