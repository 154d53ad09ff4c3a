#pragma once

#include <QString>

// Turns the engine's English diagnostic output into one plain Russian explanation, and answers
// whether a failed analysis is worth retrying in a YouTube fallback mode or after refreshing
// the engine and its JavaScript runtime. Pure functions of the text; used by format discovery and
// by download jobs.
namespace DownloadFailure {

bool requiresYouTubeFallback(const QString &diagnostic);
bool requiresEngineRefresh(const QString &diagnostic);
QString explanation(const QString &diagnostic);

} // namespace DownloadFailure
