#include "video/download_option.h"

QString DownloadOption::detail() const
{
    if (!requiresMerge())
        return video.detail();
    return video.mergeOutputExtension().toUpper() + QStringLiteral(" · ") + video.videoCodecLabel()
           + QStringLiteral(" · звук будет объединён на компьютере");
}
