#pragma once

#include "app/download_history_item.h"
#include "app/platform/preferences.h"

#include <QHash>
#include <QString>
#include <QUuid>

#include <optional>

// The public link of each Yandex Disk history record that can be continued, kept beside the
// history (whose records keep only their own six fields) as one JSON object from record id to
// link. An entry leaves with its record. UI thread only.
class RunLinks {
public:
    // Reads the stored object at once; anything undecodable counts as no links.
    explicit RunLinks(Preferences &prefs);

    std::optional<QString> link(const QUuid &id) const;
    void add(const QUuid &id, const QString &link);
    // Forgets the links of records that are no longer in `items`; saves when that changed any.
    void keepOnly(const QList<DownloadHistoryItem> &items);

private:
    void save();

    Preferences &m_prefs;
    QHash<QString, QString> m_links; // by the record id's stored text
};
