#pragma once

#include "app/download_history_item.h"

#include <QWidget>

#include <functional>

class QToolButton;

// One entry of the history list: result icon, title, status line, date and a menu. With
// `canContinue`, the menu offers "Докачать" whenever that says so at the moment it opens.
class HistoryRow : public QWidget {
    Q_OBJECT
public:
    explicit HistoryRow(const DownloadHistoryItem &item, std::function<bool()> canContinue = {},
                        QWidget *parent = nullptr);
    QToolButton *menuButton() const { return m_menuButton; }

signals:
    void continueRequested();
    void revealRequested();
    void removeRequested();

private:
    QToolButton *m_menuButton;
};
