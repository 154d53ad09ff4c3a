#include "engine/engine_locator.h"

#include "engine/tool_installer.h"

QStringList systemEngineCandidates()
{
    return {QStringLiteral("/opt/homebrew/bin/yt-dlp"), QStringLiteral("/usr/local/bin/yt-dlp"),
            QStringLiteral("/usr/bin/yt-dlp")};
}

std::optional<QString> firstExecutable(const QStringList &candidates)
{
    for (const QString &path : candidates) {
        if (!path.isEmpty() && isExecutableFile(path))
            return path;
    }
    return std::nullopt;
}
