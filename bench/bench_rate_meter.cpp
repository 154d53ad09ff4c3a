// The rate meter sits on the path of every progress report; this prints its cost per report.
#include "app/rate_meter.h"

#include <chrono>
#include <cstdio>

int main()
{
    constexpr int kStreams = 8;
    constexpr int kReports = 2'000'000;
    QString names[kStreams];
    for (int i = 0; i < kStreams; ++i)
        names[i] = QStringLiteral("file-%1").arg(i);

    DownloadRateMeter meter;
    meter.reset(0);
    qint64 bytes[kStreams] = {};
    const auto start = std::chrono::steady_clock::now();
    double sink = 0;
    for (int i = 0; i < kReports; ++i) {
        const int s = i % kStreams;
        bytes[s] += 16384;
        const double t = i * 0.0001; // 10,000 reports per simulated second
        meter.record(names[s], bytes[s], t);
        if (i % 5000 == 0)
            sink += meter.bytesPerSecond(t).value_or(0);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("rate-meter-record: %.0f ns/report\n", seconds * 1e9 / kReports);
    return sink < 0 ? 1 : 0;
}
