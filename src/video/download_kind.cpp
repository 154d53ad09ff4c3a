#include "video/download_kind.h"

QString downloadKindTitle(DownloadKind kind)
{
    return kind == DownloadKind::Video ? QStringLiteral("Видео") : QStringLiteral("Только аудио");
}

QString downloadKindSymbol(DownloadKind kind)
{
    return kind == DownloadKind::Video ? QStringLiteral("play.rectangle.fill")
                                       : QStringLiteral("waveform");
}
