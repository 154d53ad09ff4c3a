#pragma once

#include <QString>

// A program that the installer keeps current from a GitHub release feed: where its feed is,
// which asset holds it on this platform, what the unpacked executable is called, which folder
// of the program folder it lives in, which two preference values remember it and how much a
// first install downloads.
struct ReleaseTool {
    QString feedPath;          // e.g. "/repos/OWNER/NAME/releases/latest" on the API host
    QString assetName;         // the zip archive for this platform
    QString executableName;    // at the top level of the archive
    QString folderName;        // in the program folder; staging and backup folders derive from it
    QString legacyFileName;    // a single-file build of earlier installs, removed after an
                               // install (empty: none)
    QString digestKey;         // preference: lower-case SHA-256 of the installed archive
    QString lastRefreshKey;    // preference: date of the last install or confirmed-current check
    int downloadMegabytes = 0; // about how much a first install downloads, for the status text
};

// The engine (yt-dlp nightly builds) for the platform this program was built for.
ReleaseTool engineReleaseTool();

// The JavaScript runtime (Deno) that the engine needs to solve YouTube's player challenges.
ReleaseTool runtimeReleaseTool();

// The GitHub REST API host the shipped program asks for releases (tests use a loopback feed).
inline constexpr QLatin1StringView kReleaseFeedBaseUrl{"https://api.github.com"};

// The folder in the user's application-support folder that holds the program's installs.
inline constexpr QLatin1StringView kProgramFolderName{"Corvane"};
