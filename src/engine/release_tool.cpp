#include "engine/release_tool.h"

#include "app/platform/preference_keys.h"

#include <QtGlobal>

ReleaseTool engineReleaseTool()
{
    ReleaseTool tool;
    tool.feedPath = QStringLiteral("/repos/yt-dlp/yt-dlp-nightly-builds/releases/latest");
#if defined(Q_OS_MACOS)
    tool.executableName = QStringLiteral("yt-dlp_macos");
#elif defined(Q_PROCESSOR_ARM_64)
    tool.executableName = QStringLiteral("yt-dlp_linux_aarch64");
#else
    tool.executableName = QStringLiteral("yt-dlp_linux");
#endif
    tool.assetName = tool.executableName + QStringLiteral(".zip");
    tool.folderName = QStringLiteral("yt-dlp-engine");
    tool.legacyFileName = QStringLiteral("yt-dlp");
    tool.digestKey = PreferenceKeys::kEngineDigest;
    tool.lastRefreshKey = PreferenceKeys::kEngineLastRefresh;
    return tool;
}
