#pragma once

#include "app/platform/notifications.h"

#include <QObject>
#include <QSet>
#include <QUuid>

#include <functional>

class DownloadHistory;

// Tells the user, through a desktop notification, that a run or a job has ended while they were
// not looking at the window. Every end adds one entry to its side's history, so each new entry
// is one notice: its name as the title, its closing status line as the body, and "Показать в
// папке" showing what it produced. UI thread only.
class FinishNotices : public QObject {
    Q_OBJECT
public:
    // `userIsLooking` tells whether the window is active at the moment of the end.
    FinishNotices(Notifications &notifications, std::function<bool()> userIsLooking,
                  QObject *parent = nullptr);

    // Entries that the history holds now are not news.
    void watch(DownloadHistory &history);

private:
    void historyChanged(DownloadHistory &history);

    Notifications &m_notifications;
    std::function<bool()> m_userIsLooking;
    QSet<QUuid> m_known;
};
