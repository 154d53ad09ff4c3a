#pragma once

#include "ui/quality_picker.h"
#include "video/download_model.h"

#include <QPointer>
#include <QWidget>

class DestinationRow;
class HistorySection;
class LinkRow;
class QAction;
class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class SurfaceCard;
class TransferStatusView;
class VideoJobRow;

// The video tab: a view over one DownloadModel's parts and its jobs. It draws each part's state
// whole when it changes, calls the model's operations and presents the quality picker while the
// choices ask for it.
class VideoDownloadView : public QWidget {
    Q_OBJECT
public:
    explicit VideoDownloadView(DownloadModel &model, QWidget *parent = nullptr);

    // For tests and the screenshots.
    LinkRow *linkRow() const { return m_linkRow; }
    QToolButton *clearButton() const { return m_clear; }
    QPushButton *chooseFormatButton() const { return m_chooseFormat; }
    DestinationRow *destinationRow() const { return m_destination; }
    SurfaceCard *statusCard() const { return m_statusCard; }
    TransferStatusView *statusView() const { return m_statusView; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *signInButton() const { return m_signIn; }
    QAction *forgetSignInAction() const { return m_forgetSignIn; }
    SurfaceCard *jobsCard() const { return m_jobsCard; }
    QLabel *jobsSummary() const { return m_jobsSummary; }
    QList<VideoJobRow *> jobRows() const { return m_rows; }
    HistorySection *historySection() const { return m_history; }
    QualityPicker *picker() const { return m_picker; }

private:
    QWidget *buildDownloadCard();
    QWidget *buildStatusCard();
    QWidget *buildJobsCard();
    void showAnalysis(const AnalysisState &state);
    void showSignInChoices(const QList<BrowserProfile> &browsers);
    void showJobs(const QueueState &state);
    void showChoices(const ChoicesState &state);
    void openPicker(const QualityPickerContent &content);

    DownloadModel &m_model;
    LinkRow *m_linkRow = nullptr;
    QToolButton *m_clear = nullptr;
    QPushButton *m_chooseFormat = nullptr;
    DestinationRow *m_destination = nullptr;
    SurfaceCard *m_statusCard = nullptr;
    TransferStatusView *m_statusView = nullptr;
    QWidget *m_cancelRow = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_signIn = nullptr;
    QList<BrowserProfile> m_signInBrowsers; // in m_signIn's menu
    QAction *m_forgetSignIn = nullptr;
    SurfaceCard *m_jobsCard = nullptr;
    QLabel *m_jobsSummary = nullptr;
    QVBoxLayout *m_jobsLayout = nullptr;
    QList<VideoJobRow *> m_rows;
    HistorySection *m_history = nullptr;
    QPointer<QualityPicker> m_picker;
};
