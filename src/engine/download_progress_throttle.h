#pragma once

#include <functional>
#include <mutex>

// Turns the byte counts of one archive download into install progress between 0.10 and 0.85,
// at most about a hundred reports (one per percent of the archive, the last always at 0.85).
// Download callbacks can arrive on the HTTP client's thread, hence the lock.
class DownloadProgressThrottle {
public:
    explicit DownloadProgressThrottle(std::function<void(double)> progress)
        : m_progress(std::move(progress))
    {
    }

    void bytesWritten(qint64 written, qint64 expected)
    {
        if (expected < 1)
            return; // no length from the server: nothing meaningful to show
        double fraction = double(written) / double(expected);
        fraction = fraction < 0 ? 0 : (fraction > 1 ? 1 : fraction);
        std::lock_guard lock(m_mutex);
        if (fraction == 1.0 || fraction >= m_lastReported + 0.01) {
            m_lastReported = fraction;
            if (m_progress)
                m_progress(0.1 + 0.75 * fraction);
        }
    }

private:
    std::function<void(double)> m_progress;
    std::mutex m_mutex;
    double m_lastReported = 0;
};
