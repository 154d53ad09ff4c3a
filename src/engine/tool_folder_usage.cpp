#include "engine/tool_folder_usage.h"

ToolFolderUsage::Lease ToolFolderUsage::acquire()
{
    std::lock_guard lock(m_mutex);
    ++m_active;
    Lease lease;
    std::weak_ptr<ToolFolderUsage *> self = m_self;
    // A lease that outlives the usage object (a job finishing after the model) must not
    // touch it, hence the weak reference.
    lease.m_token = std::shared_ptr<void>(static_cast<void *>(this), [self](void *) {
        if (const auto alive = self.lock())
            (*alive)->release();
    });
    return lease;
}

void ToolFolderUsage::release()
{
    std::lock_guard lock(m_mutex);
    --m_active;
}

int ToolFolderUsage::activeRuns() const
{
    std::lock_guard lock(m_mutex);
    return m_active;
}

bool ToolFolderUsage::runIfUnused(const std::function<void()> &swap)
{
    std::lock_guard lock(m_mutex);
    if (m_active > 0)
        return false;
    swap();
    return true;
}
