#pragma once

#include "video/download_option.h"
#include "video/video_quality.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

class QAbstractButton;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class SegmentedControl;

// The three tabs of the picker, in order.
enum class QualityTab { WithAudio, AudioOnly, VideoOnly };
QString qualityTabLabel(QualityTab tab);

// The sound-only offers of one audio track.
struct AudioTrackGroup {
    QString id;
    QString title;
    QList<VideoQuality> qualities;
};
// Groups keep the order in which their tracks first occur; each keeps its qualities' order.
QList<AudioTrackGroup> groupAudioTracks(const QList<VideoQuality> &qualities);

// What the picker shows, read from the video model.
struct QualityPickerContent {
    QString title;
    QStringList publicationTitles;
    int selectedPublicationVideo = 0;
    QList<DownloadOption> withAudioQualities;
    QList<VideoQuality> audioOnlyQualities;
    QList<VideoQuality> videoOnlyQualities;
    bool startOnVideoOnly = false;
};

// The modal sheet in which the user picks what to download. It only reports the choice; the
// screen starts the download and the model closes the sheet.
class QualityPicker : public QDialog {
    Q_OBJECT
public:
    explicit QualityPicker(const QualityPickerContent &content, QWidget *parent = nullptr);

    // Refreshes the offers when the model publishes a change.
    void setContent(const QualityPickerContent &content);
    QualityTab tab() const { return m_tab; }
    void setTab(QualityTab tab);

    // For tests and screenshots.
    QComboBox *publicationPicker() const { return m_publication; }
    QPushButton *allVideosButton() const { return m_allVideos; }
    QList<QAbstractButton *> offerRows() const { return m_rows; }
    QList<QLabel *> offerTexts() const { return m_texts; }
    QAbstractButton *tabButton(QualityTab tab) const;

signals:
    void publicationVideoSelected(int index);
    void selectAllVideos();
    void selectWithAudio(const DownloadOption &option);
    void selectAudioOnly(const VideoQuality &quality);
    void selectBestAudio();
    void selectVideoOnly(const VideoQuality &quality);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void rebuildOffers();
    void addRow(const QString &icon, const QColor &tint, const QString &title,
                const QString &detail, std::function<void()> action);
    void addText(const QString &text, bool notice);

    QualityPickerContent m_content;
    QualityTab m_tab = QualityTab::WithAudio;
    QLabel *m_title = nullptr;
    QWidget *m_publicationSection = nullptr;
    QComboBox *m_publication = nullptr;
    QPushButton *m_allVideos = nullptr;
    SegmentedControl *m_tabs = nullptr;
    QScrollArea *m_scroll = nullptr;
    QVBoxLayout *m_offers = nullptr;
    QList<QAbstractButton *> m_rows;
    QList<QLabel *> m_texts;
};
