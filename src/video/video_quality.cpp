#include "video/video_quality.h"

#include "app/byte_format.h"
#include "video/json_fields.h"
#include "video/language_names.h"

#include <QStringList>

#include <cmath>
#include <initializer_list>

namespace {

QString lowered(const std::optional<QString> &text)
{
    return text ? text->toLower() : QString();
}

bool startsWithAny(const QString &text, std::initializer_list<const char *> prefixes)
{
    for (const char *prefix : prefixes) {
        if (text.startsWith(QLatin1StringView(prefix)))
            return true;
    }
    return false;
}

// A codec string such as "mp4a.40.2" is named by its first dotted part.
QString firstDottedPart(const QString &codec)
{
    const QStringList parts = codec.split(u'.', Qt::SkipEmptyParts);
    return (parts.isEmpty() ? codec : parts.first()).toUpper();
}

// The first of the two values that is present and not empty.
std::optional<QString> firstNonEmpty(const std::optional<QString> &a,
                                     const std::optional<QString> &b)
{
    if (a && !a->isEmpty())
        return a;
    if (b && !b->isEmpty())
        return b;
    return std::nullopt;
}

QString trimmedOf(QString text)
{
    return text.trimmed();
}

} // namespace

bool VideoQuality::hasOpaqueCombinedTracks() const
{
    return ext.toLower() == u"mp4" && !videoCodec && !audioCodec;
}

bool VideoQuality::includesVideo() const
{
    if (hasOpaqueCombinedTracks())
        return true;
    if (const auto stated = firstNonEmpty(videoCodec, videoExtension))
        return stated->toLower() != u"none";
    return height.has_value();
}

bool VideoQuality::includesAudio() const
{
    if (hasOpaqueCombinedTracks())
        return true;
    if (const auto stated = firstNonEmpty(audioCodec, audioExtension))
        return stated->toLower() != u"none";
    // A format that says nothing about sound is taken to have it.
    return true;
}

bool VideoQuality::canBeMergedByMac() const
{
    const QString container = ext.toLower();
    return includesVideo() && !includesAudio() && (container == u"mp4" || container == u"webm");
}

bool VideoQuality::hasConcreteAudioCodec() const
{
    return audioCodec && !audioCodec->isEmpty() && audioCodec->toLower() != u"none";
}

std::optional<qint64> VideoQuality::shownSize() const
{
    return fileSize ? fileSize : approximateFileSize;
}

double VideoQuality::preferenceWith(const std::optional<double> &bitrate) const
{
    if (bitrate && *bitrate > 0)
        return *bitrate;
    if (totalBitrate && *totalBitrate > 0)
        return *totalBitrate;
    return double(shownSize().value_or(0)) / 1'000'000.0;
}

double VideoQuality::qualityPreference() const
{
    return preferenceWith(videoBitrate);
}

double VideoQuality::audioQualityPreference() const
{
    return preferenceWith(audioBitrate);
}

qint64 VideoQuality::roundedFrameRate() const
{
    return fps ? qint64(std::round(*fps)) : 0;
}

QString VideoQuality::displayedQualityKey() const
{
    const qint64 rate = roundedFrameRate();
    return QStringLiteral("%1|%2").arg(height.value_or(0)).arg(rate > 30 ? rate : 0);
}

QString VideoQuality::title() const
{
    QString text = height ? QStringLiteral("%1p").arg(*height) : QStringLiteral("Видео");
    const qint64 rate = roundedFrameRate();
    if (rate > 30)
        text += QStringLiteral(" · %1 fps").arg(rate);
    return text;
}

QString VideoQuality::detailWith(const QString &tracksText) const
{
    QStringList parts{ext.toUpper(), tracksText};
    if (const auto size = shownSize())
        parts << formatByteCount(*size);
    return parts.join(QStringLiteral(" · "));
}

QString VideoQuality::detail() const
{
    return detailWith(QStringLiteral("видео и звук"));
}

QString VideoQuality::videoOnlyDetail() const
{
    return detailWith(QStringLiteral("исходная видеодорожка"));
}

QString VideoQuality::videoCodecLabel() const
{
    const QString codec = lowered(videoCodec);
    if (startsWithAny(codec, {"avc", "h264"}))
        return QStringLiteral("H.264");
    if (startsWithAny(codec, {"hev", "h265", "hvc"}))
        return QStringLiteral("H.265 / HEVC");
    if (codec.startsWith(u"dvh"))
        return QStringLiteral("Dolby Vision / HEVC");
    if (startsWithAny(codec, {"av01", "av1"}))
        return QStringLiteral("AV1");
    if (startsWithAny(codec, {"vp09", "vp9"}))
        return QStringLiteral("VP9");
    if (startsWithAny(codec, {"vp08", "vp8"}))
        return QStringLiteral("VP8");
    if (codec.isEmpty() || codec == u"none")
        return QStringLiteral("кодек не указан");
    return firstDottedPart(codec);
}

QString VideoQuality::mergeOutputExtension() const
{
    const QString codec = lowered(videoCodec);
    if (codec.isEmpty())
        return ext.toLower() == u"mp4" ? QStringLiteral("mp4") : QStringLiteral("mkv");
    if (startsWithAny(codec,
                      {"avc", "h264", "hev", "h265", "hvc", "dvh", "av01", "av1", "vp09", "vp9"}))
        return QStringLiteral("mp4");
    return QStringLiteral("mkv");
}

std::optional<QString> VideoQuality::normalizedAudioLanguage() const
{
    if (!language)
        return std::nullopt;
    QString tag = language->trimmed();
    if (tag.isEmpty())
        return std::nullopt;
    return tag.replace(u'_', u'-').toLower();
}

QString VideoQuality::normalizedFormatNote() const
{
    QString note = formatNote.value_or(QString()).trimmed();
    const QString lower = note.toLower();
    for (const char *ending : {", low", ", medium", ", high"}) {
        const QLatin1StringView suffix(ending);
        if (lower.endsWith(suffix)) {
            note.chop(suffix.size());
            break;
        }
    }
    return trimmedOf(note);
}

bool VideoQuality::isAutomaticDubAudioTrack() const
{
    const QString note = normalizedFormatNote().toLower();
    return note.contains(u"dubbed-auto") || note.contains(u"auto-dub") || note.contains(u"autodub");
}

bool VideoQuality::isOriginalAudioTrack() const
{
    return normalizedFormatNote().toLower().contains(u"original") && !isAutomaticDubAudioTrack();
}

QString VideoQuality::audioTrackKey() const
{
    QString kind;
    if (isOriginalAudioTrack())
        kind = QStringLiteral("original");
    else if (isAutomaticDubAudioTrack())
        kind = QStringLiteral("automatic-dub");
    else
        kind = normalizedFormatNote().toLower();
    return normalizedAudioLanguage().value_or(QStringLiteral("unknown")) + u'|' + kind;
}

QString VideoQuality::audioTrackTitle() const
{
    QString text;
    const auto tag = normalizedAudioLanguage();
    if (const auto name = tag ? russianLanguageName(*tag) : std::nullopt)
        text = *name;
    else if (const QString note = normalizedFormatNote(); !note.isEmpty())
        text = note;
    else
        text = QStringLiteral("Аудиодорожка");
    if (isOriginalAudioTrack())
        text += QStringLiteral(" · оригинал");
    else if (isAutomaticDubAudioTrack())
        text += QStringLiteral(" · автодубляж");
    return text;
}

QString VideoQuality::audioOptionTitle() const
{
    QString text = ext.toUpper();
    if (audioBitrate)
        text += QStringLiteral(" · %1 кбит/с").arg(qint64(std::round(*audioBitrate)));
    return text;
}

QString VideoQuality::audioOptionDetail() const
{
    QStringList parts;
    if (hasConcreteAudioCodec())
        parts << firstDottedPart(*audioCodec);
    if (const auto size = shownSize())
        parts << formatByteCount(*size);
    if (parts.isEmpty())
        return QStringLiteral("Исходный аудиофайл");
    return parts.join(QStringLiteral(" · "));
}

std::optional<VideoQuality> decodeVideoQuality(const QJsonObject &object, QString *error)
{
    using namespace JsonFields;
    VideoQuality q;
    std::optional<QString> formatID, ext;
    if (!readString(object, "format_id", formatID, error) || !readString(object, "ext", ext, error))
        return std::nullopt;
    if (!formatID || !ext) {
        if (error)
            *error = QStringLiteral("нет обязательного значения «%1»")
                         .arg(formatID ? QStringLiteral("ext") : QStringLiteral("format_id"));
        return std::nullopt;
    }
    q.formatID = *formatID;
    q.ext = *ext;
    const bool ok = readInteger(object, "width", q.width, error)
                    && readInteger(object, "height", q.height, error)
                    && readDouble(object, "fps", q.fps, error)
                    && readInteger(object, "filesize", q.fileSize, error)
                    && readInteger(object, "filesize_approx", q.approximateFileSize, error)
                    && readString(object, "vcodec", q.videoCodec, error)
                    && readString(object, "acodec", q.audioCodec, error)
                    && readString(object, "video_ext", q.videoExtension, error)
                    && readString(object, "audio_ext", q.audioExtension, error)
                    && readDouble(object, "abr", q.audioBitrate, error)
                    && readDouble(object, "vbr", q.videoBitrate, error)
                    && readDouble(object, "tbr", q.totalBitrate, error)
                    && readString(object, "language", q.language, error)
                    && readDouble(object, "language_preference", q.languagePreference, error)
                    && readString(object, "format_note", q.formatNote, error);
    if (!ok)
        return std::nullopt;
    return q;
}
