#pragma once

#include "app/download_history_item.h"

#include <QList>
#include <QWidget>

#include <functional>

class DisclosureHeader;
class DownloadHistory;
class QLabel;
class QPushButton;
class QVBoxLayout;

// The collapsible list of recent runs: the first `limit` entries, a count of all of them,
// and "Очистить историю". Each row's menu reveals or removes its entry.
class HistorySection : public QWidget {
    Q_OBJECT
public:
    explicit HistorySection(int limit, QWidget *parent = nullptr);

    // Shows `history` from now on and acts on it: the rows' menus reveal and remove its
    // entries, "Очистить историю" clears it.
    void bind(DownloadHistory &history);
    void setItems(const QList<DownloadHistoryItem> &items);
    // Rows whose entry passes `test` (asked each time a menu opens) offer "Докачать".
    void setContinuable(std::function<bool(const DownloadHistoryItem &)> test);
    void setExpanded(bool expanded);
    bool isExpanded() const;

    DisclosureHeader *header() const { return m_header; }
    QLabel *footerText() const { return m_footerText; }
    QLabel *placeholder() const { return m_placeholder; }
    QPushButton *clearButton() const { return m_clear; }
    // The rows shown now, each a widget with the entry's menu.
    QList<QWidget *> rows() const { return m_rows; }

signals:
    void expandedChanged(bool expanded);
    void continueRequested(const DownloadHistoryItem &item);
    void revealRequested(const DownloadHistoryItem &item);
    void removeRequested(const DownloadHistoryItem &item);
    void clearRequested();

private:
    void rebuildRows();

    int m_limit;
    QList<DownloadHistoryItem> m_items;
    std::function<bool(const DownloadHistoryItem &)> m_continuable;
    DisclosureHeader *m_header;
    QWidget *m_content;
    QVBoxLayout *m_rowsLayout;
    QList<QWidget *> m_rows;
    QLabel *m_placeholder;
    QWidget *m_footer;
    QLabel *m_footerText;
    QPushButton *m_clear;
};
