#include "yandex/progress_board.h"

void ProgressBoard::report(const QString &id, qint64 written)
{
    if (written < 0)
        return;
    std::lock_guard lock(m_mutex);
    m_activity = true;
    auto it = m_last.find(id);
    if (it == m_last.end()) {
        // Bytes a file already had when first seen (a continued ".part") are not new.
        m_last.insert(id, written);
    } else {
        m_received += written >= *it ? written - *it : written;
        *it = written;
    }
    m_changed.insert(id, written);
}

void ProgressBoard::complete(const QString &id, qint64 size)
{
    std::lock_guard lock(m_mutex);
    m_activity = true;
    m_last.remove(id);
    m_changed.remove(id);
    m_completed.append({id, size});
}

ProgressBoard::Snapshot ProgressBoard::take()
{
    std::lock_guard lock(m_mutex);
    Snapshot snapshot;
    snapshot.written.swap(m_changed);
    snapshot.completed.swap(m_completed);
    snapshot.receivedBytes = m_received;
    snapshot.anyActivity = m_activity;
    return snapshot;
}

bool ProgressBoard::anyActivity() const
{
    std::lock_guard lock(m_mutex);
    return m_activity;
}
