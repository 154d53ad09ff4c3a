#include "yandex/link_pipeline.h"

LinkPipeline::LinkPipeline(QList<bool> needed, Fetch fetch, qsizetype lookahead)
    : m_needed(std::move(needed)), m_fetch(std::move(fetch)),
      m_lookahead(std::max<qsizetype>(lookahead, 1))
{
    const qsizetype count = m_needed.count(true);
    const qsizetype threads = std::min<qsizetype>(kMaxInFlight, count);
    m_fetchers.reserve(size_t(threads));
    for (qsizetype i = 0; i < threads; ++i)
        m_fetchers.emplace_back([this] { fetchLoop(); });
}

LinkPipeline::~LinkPipeline()
{
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    for (std::thread &fetcher : m_fetchers)
        fetcher.join();
}

void LinkPipeline::fetchLoop()
{
    for (;;) {
        qsizetype index = -1;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] {
                while (m_nextToAsk < m_needed.size() && !m_needed.at(m_nextToAsk))
                    ++m_nextToAsk;
                return m_ending || m_nextToAsk >= m_needed.size()
                       || m_nextToAsk <= m_takenUpTo + m_lookahead;
            });
            if (m_ending || m_nextToAsk >= m_needed.size())
                return;
            index = m_nextToAsk++;
        }
        Result<QUrl> link = m_fetch(index);
        {
            std::lock_guard lock(m_mutex);
            m_ready.insert_or_assign(index, std::move(link));
        }
        m_changed.notify_all();
    }
}

Result<QUrl> LinkPipeline::take(qsizetype index)
{
    std::unique_lock lock(m_mutex);
    if (index > m_takenUpTo) {
        m_takenUpTo = index;
        m_changed.notify_all();
    }
    m_changed.wait(lock, [&] { return m_ready.contains(index); });
    auto ready = m_ready.extract(index);
    return std::move(ready.mapped());
}
