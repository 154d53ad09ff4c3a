#pragma once

#include <QSet>

#include <mutex>

// The process groups of every running child (engine, FFmpeg) that must not outlive the program.
// Children run in groups of their own, so a terminal's hang-up or the program's own end does not
// reach them by itself; the application shell calls endAll() when it quits or receives SIGTERM
// or SIGHUP (from the main thread, after the signal handler has woken it). Thread-safe.
class ProcessGroupRegistry {
public:
    void add(qint64 groupId);
    void remove(qint64 groupId);
    int size() const;
    // SIGKILL to every registered group; the registry is empty afterwards.
    void endAll();

private:
    mutable std::mutex m_mutex;
    QSet<qint64> m_groups;
};
