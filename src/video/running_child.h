#pragma once

#include "app/process/process_runner.h"

#include <memory>
#include <mutex>

// The child process that video work (a download job, an analysis) is blocked on, the engine or
// FFmpeg, reachable from the UI thread. The user's cancel stops an engine run but lets a merge
// finish (its result is then removed); work that is going away stops both. A stop that comes
// before a child is attached takes effect when it is. Owned by the job; its worker attaches,
// the UI thread stops.
class RunningChild {
public:
    enum class Kind { Engine, Merge };

    void attach(const std::shared_ptr<ProcessControl> &control, Kind kind)
    {
        std::lock_guard lock(m_mutex);
        m_control = control;
        m_kind = kind;
        if (m_stopAll || (m_stopEngine && kind == Kind::Engine))
            control->cancel();
    }

    void detach()
    {
        std::lock_guard lock(m_mutex);
        m_control.reset();
    }

    void stopEngine()
    {
        std::lock_guard lock(m_mutex);
        m_stopEngine = true;
        if (m_control && m_kind == Kind::Engine)
            m_control->cancel();
    }

    void stopAll()
    {
        std::lock_guard lock(m_mutex);
        m_stopEngine = true;
        m_stopAll = true;
        if (m_control)
            m_control->cancel();
    }

private:
    std::mutex m_mutex;
    std::shared_ptr<ProcessControl> m_control;
    Kind m_kind = Kind::Engine;
    bool m_stopEngine = false;
    bool m_stopAll = false;
};
