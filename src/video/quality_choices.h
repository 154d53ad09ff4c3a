#pragma once

#include "engine/engine_arguments.h"
#include "video/analysis_job.h"
#include "video/download_choices.h"
#include "video/publication_video.h"
#include "video/status_line.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

// Everything the quality picker shows, at once: the videos of the analysed link, the one
// selected and its three lists, with the title and id its downloads are named after.
struct ChoicesState {
    QList<PublicationVideo> publicationVideos;
    int selectedVideo = 0;
    DownloadChoices lists; // of the selected video
    QString title;
    QString videoId;
    bool startOnVideoOnly = false; // the picker opens on its video-only tab
    bool showPicker = false;
    double analysedAt = 0; // when the documents were made, in the clock's monotonic seconds
};

// What the analysed link offers and what the user is choosing among: built from a successful
// analysis, changed by picking another video of the publication. Owned by DownloadModel; UI
// thread only.
class QualityChoices : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const ChoicesState &state() const { return m_state; }
    // Before a new analysis: no videos, nothing selected.
    void reset();
    // The videos of a successful analysis, the first one selected; the status line to show.
    StatusLine showFindings(const AnalysisFindings &findings, double analysedAt);
    // Shows one video's lists (empty ones too, with their status line); none (and nothing
    // changes) for an index out of range.
    std::optional<StatusLine> select(int index);
    void setPickerShown(bool shown);

    // Extra engine arguments for downloads of the selected video, and of any video of the
    // publication: its item number and the access mode that worked.
    const QStringList &extractorArguments() const { return m_activeArguments; }
    QStringList extractorArgumentsFor(const PublicationVideo &video) const;

signals:
    void stateChanged(const ChoicesState &state);

private:
    ChoicesState m_state;
    QStringList m_activeArguments;
    QStringList m_publicationArguments;
};
