#pragma once

#include <QString>

// Turns the engine's English diagnostic output into one plain Russian explanation, and answers
// whether a failed analysis is worth retrying in a YouTube fallback mode or after refreshing
// the engine and its JavaScript runtime. Pure functions of the text; used by format discovery and
// by download jobs.
namespace DownloadFailure {

bool requiresYouTubeFallback(const QString &diagnostic);
bool requiresEngineRefresh(const QString &diagnostic);
// `signInBrowser`: the shown name of the browser whose sign-in the run was given, if any; a
// failure to read it is explained as such.
QString explanation(const QString &diagnostic, const QString &signInBrowser = {});
// The explanation is that the video is private, age-restricted or behind YouTube's bot check:
// failures that signing in may lift.
// The media host refused a format's link (HTTP 403 or 410): it expired or no longer serves.
bool mediaLinkRefused(const QString &diagnostic);
bool signInMayHelp(const QString &diagnostic, const QString &signInBrowser = {});

} // namespace DownloadFailure
