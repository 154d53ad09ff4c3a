#include "app/finish_notices.h"

#include "app/download_history.h"

#include <QPointer>

FinishNotices::FinishNotices(Notifications &notifications, std::function<bool()> userIsLooking,
                             QObject *parent)
    : QObject(parent), m_notifications(notifications), m_userIsLooking(std::move(userIsLooking))
{
}

void FinishNotices::watch(DownloadHistory &history)
{
    for (const DownloadHistoryItem &item : history.items())
        m_known.insert(item.id);
    connect(&history, &DownloadHistory::changed, this,
            [this, &history] { historyChanged(history); });
}

void FinishNotices::historyChanged(DownloadHistory &history)
{
    const bool looking = m_userIsLooking && m_userIsLooking();
    for (const DownloadHistoryItem &item : history.items()) {
        if (m_known.contains(item.id))
            continue;
        m_known.insert(item.id);
        if (looking)
            continue;
        QPointer<DownloadHistory> owner(&history);
        m_notifications.notify(item.name, item.message, [owner, item] {
            if (owner)
                owner->reveal(item);
        });
    }
}
