#include "app/process/process_group_registry.h"

#include <signal.h>

void ProcessGroupRegistry::add(qint64 groupId)
{
    std::lock_guard lock(m_mutex);
    m_groups.insert(groupId);
}

void ProcessGroupRegistry::remove(qint64 groupId)
{
    std::lock_guard lock(m_mutex);
    m_groups.remove(groupId);
}

int ProcessGroupRegistry::size() const
{
    std::lock_guard lock(m_mutex);
    return int(m_groups.size());
}

void ProcessGroupRegistry::endAll()
{
    std::lock_guard lock(m_mutex);
    for (const qint64 group : std::as_const(m_groups))
        ::kill(-pid_t(group), SIGKILL);
    m_groups.clear();
}
