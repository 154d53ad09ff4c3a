#include "yandex/control_gate.h"

void ControlGate::pause()
{
    std::lock_guard lock(m_mutex);
    if (!m_cancelled)
        m_paused = true;
}

void ControlGate::resume()
{
    {
        std::lock_guard lock(m_mutex);
        m_paused = false;
    }
    m_changed.notify_all();
}

void ControlGate::cancel()
{
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_paused = false;
    }
    m_token.cancel();
    m_changed.notify_all();
}

bool ControlGate::isCancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool ControlGate::isPaused() const
{
    std::lock_guard lock(m_mutex);
    return m_paused;
}

Status ControlGate::waitUntilReady()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_cancelled || !m_paused; });
    if (m_cancelled)
        return CancelToken::stopped();
    return Done{};
}
