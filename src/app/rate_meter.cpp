#include "app/rate_meter.h"

#include "app/byte_format.h"

#include <cmath>

void DownloadRateMeter::reset(double at)
{
    m_counters.clear();
    m_samples.clear();
    m_startedAt.reset();
    m_acceptsEventsAfter = at;
}

void DownloadRateMeter::restartWindow(double at)
{
    m_samples.clear();
    m_startedAt = at;
    m_acceptsEventsAfter = at;
}

void DownloadRateMeter::record(const QString &stream, qint64 bytes, double at)
{
    if (!std::isfinite(at) || m_acceptsEventsAfter > at || bytes < 0)
        return;
    const auto previous = m_counters.constFind(stream);
    const bool known = previous != m_counters.constEnd();
    if (known && at < previous->time)
        return;
    if (!m_startedAt)
        m_startedAt = at;
    const qint64 previousBytes = known ? previous->bytes : 0;
    m_counters.insert(stream, Counter{bytes, at});
    if (!known)
        return; // a stream's first report only sets its baseline

    const qint64 increment = bytes >= previousBytes ? bytes - previousBytes : bytes;
    if (increment >= 1)
        m_samples.append(Sample{at, double(increment)});
    const double edge = at - kWindow;
    m_samples.removeIf([edge](const Sample &s) { return s.time < edge; });
}

std::optional<double> DownloadRateMeter::bytesPerSecond(double at)
{
    if (!m_startedAt || !std::isfinite(at))
        return std::nullopt;
    const double elapsed = at - *m_startedAt;
    if (!(elapsed >= 0.5))
        return std::nullopt;
    const double edge = at - kWindow;
    m_samples.removeIf([edge](const Sample &s) { return s.time <= edge; });
    const double span = std::min(kWindow, elapsed);
    double sum = 0;
    for (const Sample &s : m_samples) {
        if (s.time <= at)
            sum += s.bytes;
    }
    const double rate = sum / span;
    if (!std::isfinite(rate) || rate < 0)
        return std::nullopt;
    return rate;
}

QString DownloadRateMeter::speedText(std::optional<double> bytesPerSecond)
{
    if (!bytesPerSecond || !std::isfinite(*bytesPerSecond) || *bytesPerSecond < 0
        || *bytesPerSecond >= 9.223372036854775808e18)
        return QStringLiteral("скорость —");
    return formatByteCount(qint64(*bytesPerSecond)) + QStringLiteral("/с");
}
