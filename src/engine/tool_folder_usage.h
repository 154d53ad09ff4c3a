#pragma once

#include <functional>
#include <memory>
#include <mutex>

// Counts the engine runs that use an installed folder. The engine is a folder build whose
// files load lazily by path, so swapping the folder under a running engine can break it: the
// installer swaps only when no run holds a lease, and a run that starts during a swap waits the
// few milliseconds the two renames take. Thread-safe; shared by the preparation and the jobs.
class ToolFolderUsage {
public:
    class Lease {
    public:
        Lease() = default;
        Lease(Lease &&) noexcept = default;
        Lease &operator=(Lease &&) noexcept = default;
        ~Lease() = default;
        bool isHeld() const { return m_token != nullptr; }

    private:
        friend class ToolFolderUsage;
        std::shared_ptr<void> m_token;
    };

    // Held for as long as an engine run from the folder may be running.
    Lease acquire();
    int activeRuns() const;
    // Runs `swap` while no lease is held, and keeps new leases waiting until it returns.
    // False (and `swap` not run) when a run holds a lease.
    bool runIfUnused(const std::function<void()> &swap);

private:
    void release();

    std::shared_ptr<ToolFolderUsage *> m_self = std::make_shared<ToolFolderUsage *>(this);
    mutable std::mutex m_mutex;
    int m_active = 0;
};
