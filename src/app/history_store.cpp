#include "app/history_store.h"

#include "app/platform/preference_values.h"

HistoryStore::HistoryStore(Preferences &prefs, QString key, int limit)
    : m_prefs(prefs), m_key(std::move(key)), m_limit(limit)
{
}

void HistoryStore::load()
{
    m_items.clear();
    const auto data = readData(m_prefs, m_key);
    if (!data)
        return;
    if (auto items = decodeHistory(*data))
        m_items = std::move(*items);
}

void HistoryStore::add(DownloadHistoryItem item)
{
    m_items.prepend(std::move(item));
    if (m_items.size() > m_limit)
        m_items.resize(m_limit);
    save();
}

void HistoryStore::remove(const QUuid &id)
{
    m_items.removeIf([&](const DownloadHistoryItem &item) { return item.id == id; });
    save();
}

void HistoryStore::clear()
{
    m_items.clear();
    save();
}

void HistoryStore::save()
{
    if (m_items.isEmpty())
        m_prefs.remove(m_key);
    else
        m_prefs.setValue(m_key, encodeHistory(m_items));
}
