#pragma once

#include "app/app_error.h"
#include "app/cancel_token.h"

#include <condition_variable>
#include <mutex>

// The pause/stop switch of one download run: every step of the run (each API request,
// folder, listed item and file) passes it first. A paused gate holds the step until resume;
// a cancelled gate fails it with CancelToken::stopped(). Pause and resume may alternate any
// number of times; a cancel is final, and the next run gets a new gate.
// Owned by the run's job; thread-safe.
class ControlGate {
public:
    void pause();
    void resume();
    // Cancels the run's token too, so blocking requests and waits of the run end at once.
    void cancel();

    bool isCancelled() const;
    bool isPaused() const;
    // The token that every request and wait of this run watches.
    const CancelToken &token() const { return m_token; }

    // Returns once the run may go on; waiters are woken by resume and cancel, not polled.
    Status waitUntilReady();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_paused = false;
    bool m_cancelled = false;
    CancelToken m_token;
};
