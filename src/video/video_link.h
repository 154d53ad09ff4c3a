#pragma once

#include <QString>

#include <optional>

// Video links the program accepts, and the cleaned form handed to the engine: YouTube short
// links, "shorts" and "live" pages become the watch page; links of the supported platforms
// pass unchanged; anything else is refused.
std::optional<QString> normalizeVideoLink(const QString &text);

// The host is YouTube's main domain or one of its subdomains.
bool isYouTubeHost(const QString &host);
