#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// A sliding three-second transfer-rate meter fed with cumulative byte counts per stream.
// A plain value: no clock, no timer, no locking. Its owner stamps every report and query
// with the monotonic clock and uses it from one thread only.
class DownloadRateMeter {
public:
    static constexpr double kWindow = 3.0;

    void reset(double at);
    // Keeps the per-stream baselines but starts a fresh window at `at`, so a paused span
    // never counts and stale reports are fenced off.
    void restartWindow(double at);
    void record(const QString &stream, qint64 bytes, double at);
    // Absent during the first half second and before any report; 0 when data stopped.
    std::optional<double> bytesPerSecond(double at);

    static QString speedText(std::optional<double> bytesPerSecond);

private:
    struct Counter {
        qint64 bytes = 0;
        double time = 0;
    };
    struct Sample {
        double time = 0;
        double bytes = 0;
    };

    QHash<QString, Counter> m_counters;
    QList<Sample> m_samples;
    std::optional<double> m_startedAt;
    double m_acceptsEventsAfter = 0.0;
};
