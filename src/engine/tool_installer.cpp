#include "engine/tool_installer.h"

#include "app/platform/preference_values.h"
#include "engine/archive_extractor.h"
#include "engine/download_progress_throttle.h"
#include "engine/file_digest.h"
#include "engine/release_feed.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QUuid>

#include <cstdio>
#include <future>
#include <unistd.h>

namespace {

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

bool renameFolder(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

AppError moveFailed()
{
    return AppError(QStringLiteral("Не удалось переместить папку движка."), ErrorKind::FileSystem);
}

} // namespace

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

ToolInstaller::ToolInstaller(ReleaseTool tool, InstallerSetup setup)
    : m_tool(std::move(tool)), m_setup(std::move(setup))
{
}

QString ToolInstaller::programFolder() const
{
    return QDir(m_setup.supportFolder).filePath(kProgramFolderName);
}

QString ToolInstaller::toolDirectory() const
{
    return QDir(programFolder()).filePath(m_tool.folderName);
}

QString ToolInstaller::installedExecutable() const
{
    return QDir(toolDirectory()).filePath(m_tool.executableName);
}

QString ToolInstaller::legacyExecutable() const
{
    if (m_tool.legacyFileName.isEmpty())
        return {};
    return QDir(programFolder()).filePath(m_tool.legacyFileName);
}

QUrl ToolInstaller::feedUrl() const
{
    QUrl url = m_setup.feedBaseUrl;
    QString path = url.path();
    if (path.endsWith(u'/'))
        path.chop(1);
    url.setPath(path + m_tool.feedPath);
    return url;
}

bool ToolInstaller::requiresInstall() const
{
    return !isExecutableFile(installedExecutable());
}

bool ToolInstaller::needsRefresh(const Preferences &prefs, const QDateTime &now) const
{
    if (requiresInstall())
        return true;
    const auto last = readDate(prefs, m_tool.lastRefreshKey);
    if (!last)
        return true;
    return last->msecsTo(now) >= 86'400'000;
}

std::optional<QString> ToolInstaller::installedDigest(const Preferences &prefs) const
{
    return readString(prefs, m_tool.digestKey);
}

void ToolInstaller::recordSuccess(Preferences &prefs, const InstallResult &result,
                                  const QDateTime &now) const
{
    if (result.downloaded)
        prefs.setValue(m_tool.digestKey, result.sha256);
    prefs.setValue(m_tool.lastRefreshKey, now);
}

AppError ToolInstaller::busy()
{
    return AppError(QStringLiteral("Движок сейчас занят загрузками; обновление отложено."),
                    ErrorKind::Internal);
}

QString ToolInstaller::siblingFolder(const QString &suffix) const
{
    return QDir(programFolder()).filePath(m_tool.folderName + u'-' + newUuid() + suffix);
}

bool ToolInstaller::move(const QString &from, const QString &to) const
{
    return m_setup.moveFolder ? m_setup.moveFolder(from, to) : renameFolder(from, to);
}

void ToolInstaller::removeLeftovers() const
{
    QDir folder(programFolder());
    if (!folder.exists())
        return;
    QStringList patterns{m_tool.folderName + QStringLiteral("-*.install")};
    if (QFileInfo(toolDirectory()).isDir())
        patterns << m_tool.folderName + QStringLiteral("-*.backup");
    const QFileInfoList stale =
        folder.entryInfoList(patterns, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : stale)
        QDir(info.absoluteFilePath()).removeRecursively();
}

Status ToolInstaller::replaceToolDirectory(const QString &stagedFolder) const
{
    const QString target = toolDirectory();
    if (!QFileInfo::exists(target)) {
        if (!move(stagedFolder, target))
            return moveFailed();
        return Done{};
    }
    const QString backup = siblingFolder(QStringLiteral(".backup"));
    if (!move(target, backup))
        return moveFailed();
    if (!move(stagedFolder, target)) {
        move(backup, target);
        return moveFailed();
    }
    QDir(backup).removeRecursively();
    return Done{};
}

Result<InstallResult> ToolInstaller::install(const std::optional<QString> &installedDigest,
                                             const std::function<void(double)> &progress,
                                             const CancelToken &cancel,
                                             ToolFolderUsage *usage) const
{
    const auto report = [&](double value) {
        if (progress)
            progress(value);
    };
    report(0.05);
    removeLeftovers();

    const Result<VerifiedAsset> asset =
        fetchVerifiedAsset(*m_setup.http, feedUrl(), m_tool.assetName, cancel);
    if (!asset)
        return asset.error();
    const QString sha256 = asset.value().sha256;
    if (isExecutableFile(installedExecutable()) && installedDigest == sha256) {
        report(1.0);
        return InstallResult{sha256, false};
    }
    // A first install replaces nothing, so runs of another engine do not hold it up.
    if (!QFileInfo::exists(toolDirectory()))
        usage = nullptr;
    if (usage && usage->activeRuns() > 0)
        return busy();
    if (cancel.isCancelled())
        return CancelToken::stopped();

    QDir().mkpath(m_setup.tempFolder);
    const QString archivePath =
        QDir(m_setup.tempFolder)
            .filePath(m_tool.folderName + u'-' + newUuid() + QStringLiteral(".zip"));
    // The archive is only a means to the unpacked folder; it never outlives the install.
    const auto removeArchive = qScopeGuard([&] { QFile::remove(archivePath); });

    HttpRequest request;
    request.url = asset.value().downloadURL;
    request.headers = {{"Cache-Control", "no-cache"}};
    request.requestTimeoutSeconds = 300;
    request.resourceTimeoutSeconds = 1800;
    DownloadProgressThrottle throttle(report);
    const HttpResult download = m_setup.http->download(
        request, archivePath,
        [&throttle](qint64 written, qint64 total) { throttle.bytesWritten(written, total); },
        cancel);
    if (!download.ok())
        return networkFailure(download.error);
    if (download.response->status < 200 || download.response->status > 299)
        return InstallErrors::feedUnavailable();

    if (!QDir().mkpath(programFolder()))
        return AppError(QStringLiteral("Не удалось создать папку программы."),
                        ErrorKind::FileSystem);
    const QString staging = siblingFolder(QStringLiteral(".install"));
    if (!QDir().mkdir(staging))
        return AppError(QStringLiteral("Не удалось создать папку для установки."),
                        ErrorKind::FileSystem);
    const auto removeStaging = qScopeGuard([&] { QDir(staging).removeRecursively(); });

    report(0.9);
    // The digest is checked while the archive unpacks into the private staging folder: both
    // read the same 50 MB, and nothing leaves the staging folder before the digest has
    // matched. A mismatch stops the unpacking and fails the install as a bad release.
    CancelToken stopUnpacking;
    auto hashing = std::async(std::launch::async, [&] {
        Result<QString> digest = sha256OfFile(archivePath, cancel);
        if (!digest.ok() || digest.value() != sha256)
            stopUnpacking.cancel();
        return digest;
    });
    const Status unpacked = extractZipArchive(archivePath, staging, stopUnpacking);
    const Result<QString> digest = hashing.get();
    if (!digest)
        return digest.error();
    if (digest.value() != sha256)
        return InstallErrors::badRelease();
    if (!unpacked)
        return unpacked.error();
    const QString executable = QDir(staging).filePath(m_tool.executableName);
    if (!QFileInfo(executable).isFile())
        return InstallErrors::badRelease();
    if (!QFile::setPermissions(executable, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                               | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                               | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                               | QFileDevice::ExeOther))
        return AppError(QStringLiteral("Не удалось сделать движок исполняемым."),
                        ErrorKind::FileSystem);
    if (cancel.isCancelled())
        return CancelToken::stopped();

    Status swapped = Done{};
    const auto swap = [&] { swapped = replaceToolDirectory(staging); };
    if (usage) {
        if (!usage->runIfUnused(swap))
            return busy();
    } else {
        swap();
    }
    if (!swapped)
        return swapped.error();
    if (const QString legacy = legacyExecutable(); !legacy.isEmpty())
        QFile::remove(legacy);
    report(1.0);
    return InstallResult{sha256, true};
}
