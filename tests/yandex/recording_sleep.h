#pragma once

#include "yandex/retry_policy.h"

#include <QList>

#include <mutex>

// The retry waits as data: records every delay asked for and waits only `scale` of it,
// so tests check 1 s, 2 s, 4 s back-offs without spending them. A stop still cuts a wait.
class RecordingSleep {
public:
    explicit RecordingSleep(double scale = 0.001) : m_scale(scale) {}

    SleepFn function()
    {
        return [this](double seconds, const CancelToken &cancel) {
            {
                std::lock_guard lock(m_mutex);
                m_delays.append(seconds);
            }
            return cancel.sleepFor(seconds * m_scale);
        };
    }

    QList<double> delays() const
    {
        std::lock_guard lock(m_mutex);
        return m_delays;
    }

private:
    double m_scale;
    mutable std::mutex m_mutex;
    QList<double> m_delays;
};
