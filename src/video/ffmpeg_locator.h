#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Where FFmpeg is looked for: the program's own resource files (its executable's folder and
// "../share/tovrin" beside it), the two package-manager folders of other desktops, and the
// distribution's "/usr/bin/ffmpeg" last.
namespace FFmpeg {

QStringList defaultCandidates();
// The first candidate that is an existing file the user may execute; looked up anew each call.
std::optional<QString> executablePath(const QStringList &candidates);

} // namespace FFmpeg
