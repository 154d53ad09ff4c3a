#pragma once

#include <QLatin1StringView>

// Every key of the per-user preferences store, in one place.
namespace PreferenceKeys {
inline constexpr QLatin1StringView kConcurrentDownloads{"concurrentDownloads"};
inline constexpr QLatin1StringView kYandexHistory{"downloadHistory.v1"};
inline constexpr QLatin1StringView kYandexRunLinks{"yandexRunLinks.v1"};
inline constexpr QLatin1StringView kVideoHistory{"youtubeDownloadHistory.v1"};
inline constexpr QLatin1StringView kEngineLastRefresh{"videoEngineLastSuccessfulRefresh.v1"};
inline constexpr QLatin1StringView kEngineDigest{"videoEngineInstalledDigest.v1"};
inline constexpr QLatin1StringView kRuntimeLastRefresh{"videoRuntimeLastSuccessfulRefresh.v1"};
inline constexpr QLatin1StringView kRuntimeDigest{"videoRuntimeInstalledDigest.v1"};
inline constexpr QLatin1StringView kVideoCookiesBrowser{"videoCookiesBrowser.v1"};
} // namespace PreferenceKeys

// The application identifier; also the preferences domain.
inline constexpr QLatin1StringView kApplicationId{"local.tovrin.mac"};
