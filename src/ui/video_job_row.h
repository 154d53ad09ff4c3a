#pragma once

#include "video/video_download_job.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class ElidedLabel;
class QLabel;
class QProgressBar;
class QToolButton;

// One job of the video queue: phase icon, title, phase word, its cancel or remove button, a
// bar while it downloads or when it is done, and its status, detail and error lines.
class VideoJobRow : public QWidget {
    Q_OBJECT
public:
    explicit VideoJobRow(VideoDownloadJob *job, QWidget *parent = nullptr);

    VideoDownloadJob *job() const { return m_job; }
    QToolButton *button() const { return m_button; }
    QLabel *phaseWord() const { return m_phaseWord; }
    QProgressBar *bar() const { return m_bar; }
    QLabel *phaseIcon() const { return m_icon; }
    ElidedLabel *errorLabel() const { return m_error; }

signals:
    void cancelOrRemoveRequested(VideoDownloadJob *job);

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh(const VideoJobState &state);

    QPointer<VideoDownloadJob> m_job;
    std::optional<VideoJobPhase> m_shownPhase;
    QLabel *m_icon;
    QLabel *m_phaseWord;
    QToolButton *m_button;
    QProgressBar *m_bar;
    QLabel *m_status;
    QLabel *m_detail;
    ElidedLabel *m_error;
};
