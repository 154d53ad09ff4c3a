#include "engine/release_tool.h"

#include "app/platform/preference_keys.h"

#include <QtGlobal>

ReleaseTool engineReleaseTool()
{
    ReleaseTool tool;
    tool.feedPath = QStringLiteral("/repos/yt-dlp/yt-dlp-nightly-builds/releases/latest");
#if defined(Q_PROCESSOR_ARM_64)
    tool.executableName = QStringLiteral("yt-dlp_linux_aarch64");
#else
    tool.executableName = QStringLiteral("yt-dlp_linux");
#endif
    tool.assetName = tool.executableName + QStringLiteral(".zip");
    tool.folderName = QStringLiteral("yt-dlp-engine");
    tool.legacyFileName = QStringLiteral("yt-dlp");
    tool.digestKey = PreferenceKeys::kEngineDigest;
    tool.lastRefreshKey = PreferenceKeys::kEngineLastRefresh;
    tool.downloadMegabytes = 51;
    return tool;
}

ReleaseTool runtimeReleaseTool()
{
    ReleaseTool tool;
    tool.feedPath = QStringLiteral("/repos/denoland/deno/releases/latest");
    // The "denort-" assets of the same release are the runtime for compiled programs only.
#if defined(Q_PROCESSOR_ARM_64)
    tool.assetName = QStringLiteral("deno-aarch64-unknown-linux-gnu.zip");
#else
    tool.assetName = QStringLiteral("deno-x86_64-unknown-linux-gnu.zip");
#endif
    tool.executableName = QStringLiteral("deno");
    tool.folderName = QStringLiteral("deno-runtime");
    tool.digestKey = PreferenceKeys::kRuntimeDigest;
    tool.lastRefreshKey = PreferenceKeys::kRuntimeLastRefresh;
    tool.downloadMegabytes = 45;
    return tool;
}
