#pragma once

#include "app/download_history_item.h"
#include "app/platform/preferences.h"

#include <QList>
#include <QString>

// One side's persisted history: newest first, at most `limit` entries, saved under one
// preference key after every change. Owned by that side's model; main thread only.
class HistoryStore {
public:
    HistoryStore(Preferences &prefs, QString key, int limit);

    // Reads the stored list; anything undecodable gives an empty list and is left as it is
    // in the store until the next save replaces it.
    void load();
    const QList<DownloadHistoryItem> &items() const { return m_items; }
    int limit() const { return m_limit; }

    // Inserts at the front, trims to the limit, saves.
    void add(DownloadHistoryItem item);
    // Removes every entry with this id, keeping the order of the rest, and saves.
    void remove(const QUuid &id);
    void clear();

private:
    void save();

    Preferences &m_prefs;
    QString m_key;
    int m_limit;
    QList<DownloadHistoryItem> m_items;
};
