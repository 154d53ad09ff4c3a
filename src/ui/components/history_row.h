#pragma once

#include "app/download_history_item.h"

#include <QWidget>

class QToolButton;

// One entry of the history list: result icon, title, status line, date and a menu.
class HistoryRow : public QWidget {
    Q_OBJECT
public:
    explicit HistoryRow(const DownloadHistoryItem &item, QWidget *parent = nullptr);
    QToolButton *menuButton() const { return m_menuButton; }

signals:
    void revealRequested();
    void removeRequested();

private:
    QToolButton *m_menuButton;
};
