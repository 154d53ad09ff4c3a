#pragma once

#include "app/app_error.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

// A shared stop switch for work on other threads. Copies share one state: the owner keeps
// one and cancels it; the worker checks it at every step and waits on it instead of
// sleeping, so a cancel wakes every wait at once.
class CancelToken {
public:
    CancelToken() : m_state(std::make_shared<State>()) {}

    void cancel() const
    {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->cancelled = true;
        }
        m_state->wake.notify_all();
    }

    bool isCancelled() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->cancelled;
    }

    // Waits up to `seconds`; false when the wait ended because of a cancel.
    bool sleepFor(double seconds) const
    {
        std::unique_lock lock(m_state->mutex);
        return !m_state->wake.wait_for(lock, std::chrono::duration<double>(seconds),
                                       [this] { return m_state->cancelled; });
    }

    // What a step returns when it stopped because this token fired. The token's owner knows
    // that it asked for the stop and reports a cancel, so nobody reads this error.
    static AppError stopped()
    {
        return AppError(QStringLiteral("Остановлено"), ErrorKind::Internal);
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        bool cancelled = false;
    };
    std::shared_ptr<State> m_state;
};
