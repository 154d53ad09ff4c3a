#include "app/download_history.h"

#include "app/platform/preference_values.h"

#include <QFileInfo>

DownloadHistory::DownloadHistory(Preferences &prefs, DesktopServices &desktop, QString key,
                                 int limit, QObject *parent)
    : QObject(parent), m_prefs(prefs), m_desktop(desktop), m_key(std::move(key)), m_limit(limit)
{
    if (const auto data = readData(m_prefs, m_key)) {
        if (auto items = decodeHistory(*data))
            m_items = std::move(*items);
    }
}

void DownloadHistory::add(DownloadHistoryItem item)
{
    m_items.prepend(std::move(item));
    if (m_items.size() > m_limit)
        m_items.resize(m_limit);
    save();
}

void DownloadHistory::remove(const DownloadHistoryItem &item)
{
    m_items.removeIf([&](const DownloadHistoryItem &entry) { return entry.id == item.id; });
    save();
}

void DownloadHistory::clear()
{
    m_items.clear();
    save();
}

void DownloadHistory::reveal(const DownloadHistoryItem &item) const
{
    if (item.path.isEmpty())
        return;
    const QFileInfo info(item.path);
    if (info.isDir()) {
        m_desktop.openFolder(info.absoluteFilePath());
        return;
    }
    if (info.exists()) {
        m_desktop.showFileSelected(info.absoluteFilePath());
        return;
    }
    const QFileInfo parent(info.absolutePath());
    if (parent.isDir())
        m_desktop.openFolder(parent.absoluteFilePath());
}

void DownloadHistory::save()
{
    if (m_items.isEmpty())
        m_prefs.remove(m_key);
    else
        m_prefs.setValue(m_key, encodeHistory(m_items));
    emit changed();
}
