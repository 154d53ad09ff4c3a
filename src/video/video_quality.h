#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// One format the engine offers for a video, as decoded from its JSON document, with the rules
// that classify it (video with sound, video only, sound only) and the labels the quality picker
// shows. Plain value; every property is a pure function of the fields.
struct VideoQuality {
    QString formatID;
    QString ext;
    std::optional<qint64> width;
    std::optional<qint64> height;
    std::optional<double> fps;
    std::optional<qint64> fileSize;
    std::optional<qint64> approximateFileSize;
    std::optional<QString> videoCodec;
    std::optional<QString> audioCodec;
    std::optional<QString> videoExtension;
    std::optional<QString> audioExtension;
    std::optional<double> audioBitrate; // kbit/s
    std::optional<double> videoBitrate; // kbit/s
    std::optional<double> totalBitrate; // kbit/s
    std::optional<QString> language;
    std::optional<double> languagePreference;
    std::optional<QString> formatNote;

    const QString &id() const { return formatID; }
    bool operator==(const VideoQuality &) const = default;

    bool hasOpaqueCombinedTracks() const;
    bool includesVideo() const;
    bool includesAudio() const;
    bool canBeMergedByMac() const;
    bool hasConcreteAudioCodec() const;
    double qualityPreference() const;
    double audioQualityPreference() const;
    // Height and the rounded frame rate above 30 ("1080|60", "720|0"): formats that look the
    // same in the picker share a key.
    QString displayedQualityKey() const;
    // The frame rate rounded half away from zero, 0 when absent.
    qint64 roundedFrameRate() const;

    QString title() const;
    QString detail() const;
    QString videoOnlyDetail() const;
    QString videoCodecLabel() const;
    QString mergeOutputExtension() const;

    std::optional<QString> normalizedAudioLanguage() const;
    QString normalizedFormatNote() const;
    bool isAutomaticDubAudioTrack() const;
    bool isOriginalAudioTrack() const;
    QString audioTrackKey() const;
    QString audioTrackTitle() const;
    QString audioOptionTitle() const;
    QString audioOptionDetail() const;

private:
    QString detailWith(const QString &tracksText) const;
    double preferenceWith(const std::optional<double> &bitrate) const;
    std::optional<qint64> shownSize() const;
};

// Fills a VideoQuality from one element of the document's "formats" array. Nothing on a
// missing "format_id" or "ext" or a value of the wrong JSON type; `error` then says which key.
std::optional<VideoQuality> decodeVideoQuality(const QJsonObject &object, QString *error);
