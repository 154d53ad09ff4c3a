#include "yandex/plan_queue.h"

void PlanQueue::add(const FilePlan &plan)
{
    {
        std::lock_guard lock(m_mutex);
        m_plans.append(plan);
    }
    m_changed.notify_one();
}

void PlanQueue::close()
{
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
}

void PlanQueue::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
}

std::optional<std::pair<qsizetype, FilePlan>> PlanQueue::take()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_stopped || m_closed || m_next < m_plans.size(); });
    if (m_stopped || m_next >= m_plans.size())
        return std::nullopt;
    const qsizetype index = m_next++;
    return std::pair(index, m_plans.at(index));
}
