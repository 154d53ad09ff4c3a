#include "video/quality_choices.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

void QualityChoices::reset()
{
    m_state.publicationVideos.clear();
    m_state.selectedVideo = 0;
    m_state.startOnVideoOnly = false;
    m_state.showPicker = false;
    m_activeArguments.clear();
    emit stateChanged(m_state);
}

StatusLine QualityChoices::showFindings(const AnalysisFindings &findings, double analysedAt)
{
    const VideoMetadata &metadata = findings.metadata;
    m_publicationArguments = EngineArguments::accessModeArguments(findings.mode);
    m_state.analysedAt = analysedAt;
    QList<PublicationVideo> videos;
    if (metadata.entries) {
        const QJsonArray documents =
            QJsonDocument::fromJson(findings.document).object().value(u"entries").toArray();
        const auto &entries = *metadata.entries;
        for (qsizetype p = 0; p < entries.size(); ++p) {
            const std::optional<VideoMetadata> &entry = entries.at(p);
            if (!entry || entry->formats.isEmpty())
                continue;
            // Numbered by position, skipped entries included, so titles can have gaps.
            PublicationVideo video;
            video.metadata = *entry;
            video.playlistIndex = entry->playlistIndex ? *entry->playlistIndex : p + 1;
            video.title = QStringLiteral("Видео %1").arg(p + 1);
            video.document =
                QJsonDocument(documents.at(p).toObject()).toJson(QJsonDocument::Compact);
            videos.append(video);
        }
    } else {
        PublicationVideo video;
        video.metadata = metadata;
        video.title = metadata.title.value_or(QStringLiteral("Видео"));
        video.document = findings.document;
        videos.append(video);
    }
    m_state.publicationVideos = videos;
    if (videos.isEmpty()) {
        emit stateChanged(m_state);
        return {QStringLiteral("Видео не найдено"),
                QStringLiteral("В этой публикации нет доступных видеороликов.")};
    }
    return *select(0);
}

std::optional<StatusLine> QualityChoices::select(int index)
{
    if (index < 0 || index >= m_state.publicationVideos.size())
        return std::nullopt;
    // The index, the lists and what downloads are named after change together, in one state:
    // an open picker must never show one video while its rows download another.
    m_state.selectedVideo = index;
    const PublicationVideo &video = m_state.publicationVideos.at(index);
    m_state.lists = downloadChoices(video.metadata);
    m_activeArguments = extractorArgumentsFor(video);
    if (m_state.publicationVideos.size() < 2)
        m_state.title = video.metadata.title.value_or(QStringLiteral("Выберите качество"));
    else
        m_state.title = video.title;
    m_state.videoId = video.metadata.videoID;
    const bool nothing = m_state.lists.isEmpty();
    m_state.startOnVideoOnly =
        m_state.lists.withAudio.isEmpty() && !m_state.lists.videoOnly.isEmpty();
    // A video without choices opens no picker; an open one shows that it has nothing to offer.
    m_state.showPicker = m_state.showPicker || !nothing;
    emit stateChanged(m_state);
    if (nothing)
        return StatusLine{QStringLiteral("Готовых вариантов не найдено"),
                          QStringLiteral("Платформа не отдала вариантов, которые можно сохранить "
                                         "или объединить на этом компьютере.")};
    return StatusLine{QStringLiteral("Выберите качество видео"), std::nullopt};
}

void QualityChoices::setPickerShown(bool shown)
{
    if (m_state.showPicker == shown)
        return;
    m_state.showPicker = shown;
    emit stateChanged(m_state);
}

QStringList QualityChoices::extractorArgumentsFor(const PublicationVideo &video) const
{
    QStringList arguments;
    if (video.playlistIndex)
        arguments << QStringLiteral("--playlist-items") << QString::number(*video.playlistIndex);
    arguments << m_publicationArguments;
    return arguments;
}
