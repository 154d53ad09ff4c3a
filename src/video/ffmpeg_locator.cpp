#include "video/ffmpeg_locator.h"

#include "engine/engine_locator.h"

#include <QCoreApplication>
#include <QDir>

namespace FFmpeg {

QStringList defaultCandidates()
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QDir appDir(QCoreApplication::applicationDirPath());
        candidates << appDir.filePath(QStringLiteral("ffmpeg"))
                   << QDir::cleanPath(appDir.filePath(QStringLiteral("../share/tovrin/ffmpeg")));
    }
    candidates << QStringLiteral("/opt/homebrew/bin/ffmpeg")
               << QStringLiteral("/usr/local/bin/ffmpeg") << QStringLiteral("/usr/bin/ffmpeg");
    return candidates;
}

std::optional<QString> executablePath(const QStringList &candidates)
{
    return firstExecutable(candidates);
}

} // namespace FFmpeg
