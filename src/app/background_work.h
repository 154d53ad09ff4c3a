#pragma once

#include "app/cancel_token.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

// Runs one blocking body at a time on a thread of its own, for an owner on the UI thread: the
// body gets a stop token that it checks at every step and waits on instead of sleeping; it
// reports through post(), which hands a call to the owner's thread (queued, and dropped once
// the owner is gone); its return value reaches `done` on the owner's thread after the worker
// thread has ended. A QThread, so that the body may run event loops of its own (child
// processes).
//
// Make it the last member of its owner: its destructor stops the body and waits for the thread
// before the members the body uses are destroyed.
class BackgroundWork {
public:
    explicit BackgroundWork(QObject *owner) : m_owner(owner) {}
    ~BackgroundWork()
    {
        stop();
        join();
    }
    BackgroundWork(const BackgroundWork &) = delete;
    BackgroundWork &operator=(const BackgroundWork &) = delete;

    // `body(const CancelToken &)` runs on the worker; `done(result)` (or `done()` for a body
    // that returns nothing) on the owner's thread. Only one body at a time: a second start()
    // while one runs is ignored.
    template <typename Body, typename Done> void start(Body body, Done done)
    {
        if (m_thread)
            return;
        m_token = CancelToken();
        const CancelToken token = m_token;
        QObject *owner = m_owner;
        m_thread.reset(QThread::create(
            [this, owner, token, body = std::move(body), done = std::move(done)]() mutable {
                using Value = std::invoke_result_t<Body &, const CancelToken &>;
                if constexpr (std::is_void_v<Value>) {
                    body(token);
                    QMetaObject::invokeMethod(
                        owner, [this, done]() mutable { ended(done); }, Qt::QueuedConnection);
                } else {
                    Value value = body(token);
                    QMetaObject::invokeMethod(
                        owner,
                        [this, done, value]() mutable { ended([&] { done(std::move(value)); }); },
                        Qt::QueuedConnection);
                }
            }));
        m_thread->start();
    }

    // Sets the token; the body unwinds and `done` still comes.
    void stop() const { m_token.cancel(); }
    bool isRunning() const { return m_thread != nullptr; }
    const CancelToken &token() const { return m_token; }

    // From the body: runs `report` on the owner's thread, in order, unless the owner is gone.
    template <typename Report> void post(Report report) const
    {
        QMetaObject::invokeMethod(m_owner, std::move(report), Qt::QueuedConnection);
    }

private:
    template <typename Call> void ended(Call &&call)
    {
        // The body's last act was to post this call: the thread is ending or gone.
        join();
        call();
    }
    void join()
    {
        if (!m_thread)
            return;
        m_thread->wait();
        m_thread.reset();
    }

    QObject *m_owner;
    std::unique_ptr<QThread> m_thread;
    CancelToken m_token;
};
