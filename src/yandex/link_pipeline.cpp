#include "yandex/link_pipeline.h"

LinkPipeline::LinkPipeline(Fetch fetch, qsizetype lookahead)
    : m_fetch(std::move(fetch)), m_lookahead(std::max<qsizetype>(lookahead, 1))
{
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

void LinkPipeline::add(const std::optional<QString> &remotePath)
{
    {
        std::lock_guard lock(m_mutex);
        m_files.append(remotePath);
        if (!remotePath)
            return;
        // A fetcher per file that needs a link, up to the limit: a folder whose listing gives
        // every link starts none.
        if (qsizetype(m_fetchers.size()) < std::min<qsizetype>(kMaxInFlight, ++m_needed))
            m_fetchers.emplace_back([this] { fetchLoop(); });
    }
    m_changed.notify_all();
}

void LinkPipeline::fetchLoop()
{
    for (;;) {
        qsizetype index = -1;
        QString remotePath;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] {
                while (m_nextToAsk < m_files.size() && !m_files.at(m_nextToAsk))
                    ++m_nextToAsk;
                return m_ending
                       || (m_nextToAsk < m_files.size()
                           && m_nextToAsk <= m_takenUpTo + m_lookahead);
            });
            if (m_ending)
                return;
            index = m_nextToAsk++;
            remotePath = *m_files.at(index);
        }
        Result<QUrl> link = m_fetch(remotePath);
        {
            std::lock_guard lock(m_mutex);
            m_ready.insert_or_assign(index, std::move(link));
        }
        m_changed.notify_all();
    }
}

bool LinkPipeline::asks(qsizetype index)
{
    std::lock_guard lock(m_mutex);
    return index >= 0 && index < m_files.size() && m_files.at(index).has_value();
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
