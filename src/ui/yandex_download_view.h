#pragma once

#include <QWidget>

class DestinationRow;
class DisclosureHeader;
class DownloadManager;
struct DownloadState;
class HistorySection;
class LinkRow;
class QComboBox;
class QLabel;
class QPushButton;
class SurfaceCard;
class TransferStatusView;

// The Yandex Disk tab: a view over one DownloadManager. It shows the manager's state and
// calls its operations; the only things it decides are which controls are enabled and
// which cards are shown.
class YandexDownloadView : public QWidget {
    Q_OBJECT
public:
    explicit YandexDownloadView(DownloadManager &manager, QWidget *parent = nullptr);

    // For tests and the screenshots.
    LinkRow *linkRow() const { return m_linkRow; }
    QPushButton *downloadButton() const { return m_download; }
    DestinationRow *destinationRow() const { return m_destination; }
    DisclosureHeader *settingsHeader() const { return m_settingsHeader; }
    QComboBox *parallelPicker() const { return m_parallel; }
    SurfaceCard *statusCard() const { return m_statusCard; }
    TransferStatusView *statusView() const { return m_statusView; }
    // "Пауза" while running, "Продолжить" while paused: one control, so the focus stays on it.
    QPushButton *pauseResumeButton() const { return m_pauseResume; }
    QPushButton *stopButton() const { return m_stop; }
    QLabel *stoppingLabel() const { return m_stopping; }
    HistorySection *historySection() const { return m_history; }

private:
    QWidget *buildDownloadCard();
    QWidget *buildSettingsCard();
    QWidget *buildStatusCard();
    void submitFromField();
    // Everything but the history and the destination path follows the manager's one state.
    void render(const DownloadState &state);
    bool canDownload() const;

    DownloadManager &m_manager;
    LinkRow *m_linkRow = nullptr;
    QPushButton *m_download = nullptr;
    DestinationRow *m_destination = nullptr;
    DisclosureHeader *m_settingsHeader = nullptr;
    QWidget *m_settingsContent = nullptr;
    QComboBox *m_parallel = nullptr;
    SurfaceCard *m_statusCard = nullptr;
    TransferStatusView *m_statusView = nullptr;
    QWidget *m_controlRow = nullptr;
    QPushButton *m_pauseResume = nullptr;
    QPushButton *m_stop = nullptr;
    QLabel *m_stopping = nullptr;
    HistorySection *m_history = nullptr;
    bool m_shownPaused = false;
};
