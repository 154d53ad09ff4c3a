#pragma once

#include "app/download_history_item.h"
#include "app/platform/desktop_services.h"
#include "app/platform/preferences.h"

#include <QList>
#include <QObject>
#include <QString>

// One side's persisted history of finished runs or jobs: newest first, at most `limit` entries,
// saved under one preference key after every change. Both screens show one each; the side's
// model adds an entry when a run or job finishes. UI thread only.
class DownloadHistory : public QObject {
    Q_OBJECT
public:
    // Reads the stored list at once; anything undecodable gives an empty list and is left as it
    // is in the store until the next save replaces it.
    DownloadHistory(Preferences &prefs, DesktopServices &desktop, QString key, int limit,
                    QObject *parent = nullptr);

    const QList<DownloadHistoryItem> &items() const { return m_items; }
    int limit() const { return m_limit; }

    // Inserts at the front, trims to the limit, saves.
    void add(DownloadHistoryItem item);
    // Removes every entry with this item's id, keeping the order of the rest, and saves.
    void remove(const DownloadHistoryItem &item);
    void clear();
    // Shows what the entry produced: a folder is opened, a file is shown selected, a vanished
    // path falls back to its parent folder when that still exists; else nothing.
    void reveal(const DownloadHistoryItem &item) const;

signals:
    void changed();

private:
    void save();

    Preferences &m_prefs;
    DesktopServices &m_desktop;
    QString m_key;
    int m_limit;
    QList<DownloadHistoryItem> m_items;
};
