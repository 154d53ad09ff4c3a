#pragma once

#include <QString>

// What a video-side download produces: a video or a sound file.
enum class DownloadKind { Video, Audio };

// The shown name, which is also the kind's identity ("Видео", "Только аудио").
QString downloadKindTitle(DownloadKind kind);
// Icon name in the desktop's symbol set ("play.rectangle.fill", "waveform").
QString downloadKindSymbol(DownloadKind kind);
