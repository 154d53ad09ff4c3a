#include "headless_run.h"

#include "app/platform/curl_http_client.h"
#include "app/platform/desktop_services.h"
#include "app/platform/locations.h"
#include "app/platform/preference_keys.h"
#include "app/platform/preferences.h"
#include "app/platform/system_clock.h"
#include "support/fake_desktop_services.h"
#include "support/fake_locations.h"
#include "support/fake_preferences.h"
#include "yandex/download_manager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

// The longest time the event loop went without serving a 5 ms timer: how long the window would
// have frozen.
struct StallMeter {
    static constexpr int kTickMs = 5;
    const QElapsedTimer &wall;
    QTimer ticker;
    qint64 lastTick = 0;
    qint64 longestMs = 0;

    explicit StallMeter(const QElapsedTimer &clock) : wall(clock)
    {
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(kTickMs);
        QObject::connect(&ticker, &QTimer::timeout, [this] {
            const qint64 now = wall.elapsed();
            longestMs = std::max(longestMs, now - lastTick - kTickMs);
            lastTick = now;
        });
    }
    void start() { ticker.start(); }
};

} // namespace

int runHeadless(const QString &apiBase, const QString &publicLink, const QString &destination,
                int parallel)
{
    FakePreferences preferences;
    preferences.setValue(QString(PreferenceKeys::kConcurrentDownloads), parallel);
    SystemClock clock;
    FakeLocations locations(destination);
    FakeDesktopServices desktop;
    CurlHttpClient http;
    DownloadManagerOptions options;
    options.apiBaseUrl = apiBase;
    DownloadManager manager(DownloadManager::Services{http, preferences, clock, locations, desktop},
                            options);
    manager.setPublicLink(publicLink);

    QElapsedTimer wall;
    double listingSeconds = 0;
    StallMeter stalls(wall);
    QObject::connect(&manager, &DownloadManager::stateChanged, [&](const DownloadState &state) {
        if (listingSeconds == 0
            && (state.status.startsWith(QStringLiteral("Начинается загрузка"))
                || state.status == QStringLiteral("Папка пуста")))
            listingSeconds = wall.nsecsElapsed() / 1e9;
        if (state.canStart())
            QCoreApplication::quit();
    });

    wall.start();
    stalls.start();
    manager.start();
    if (!manager.state().canStart())
        QCoreApplication::exec();
    const double seconds = wall.nsecsElapsed() / 1e9;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("wall=%.3f listing=%.3f rss_mb=%.1f stall_ms=%lld phase=%d status=%s\n", seconds,
                listingSeconds, usage.ru_maxrss / 1024.0, static_cast<long long>(stalls.longestMs),
                int(manager.state().phase), manager.state().status.toUtf8().constData());
    return manager.state().phase == DownloadPhase::Done ? 0 : 1;
}

int measureIdleStall(double seconds)
{
    QElapsedTimer wall;
    StallMeter stalls(wall);
    QTimer::singleShot(int(seconds * 1000), [] { QCoreApplication::quit(); });
    wall.start();
    stalls.start();
    QCoreApplication::exec();
    std::printf("stall_ms=%lld\n", static_cast<long long>(stalls.longestMs));
    return 0;
}
