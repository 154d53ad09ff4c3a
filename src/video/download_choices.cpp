#include "video/download_choices.h"

#include <QCollator>
#include <QHash>
#include <QStringList>

#include <algorithm>
#include <utility>

namespace {

QString firstDashPart(const QString &tag)
{
    const QStringList parts = tag.split(u'-', Qt::SkipEmptyParts);
    return parts.isEmpty() ? QString() : parts.first();
}

bool languageMatchesOriginal(const VideoMetadata &metadata, const VideoQuality &format)
{
    if (!metadata.originalLanguage)
        return false;
    const auto language = format.normalizedAudioLanguage();
    if (!language)
        return false;
    const QString original = QString(*metadata.originalLanguage).replace(u'_', u'-').toLower();
    return original == *language || firstDashPart(original) == firstDashPart(*language);
}

int originalAudioRank(const VideoMetadata &metadata, const VideoQuality &format)
{
    if (format.isAutomaticDubAudioTrack())
        return -1;
    if (format.isOriginalAudioTrack())
        return 4;
    if (languageMatchesOriginal(metadata, format))
        return 3;
    if (format.languagePreference.value_or(0) > 0)
        return 2;
    if (format.formatNote && format.formatNote->toLower().contains(u"(default)"))
        return 1;
    return 0;
}

// -1, 0 or 1 as `a` is worse than, as good as, or better than `b` as the sound to merge.
int compareSound(const VideoMetadata &metadata, const VideoQuality &a, const VideoQuality &b)
{
    const int rankA = originalAudioRank(metadata, a), rankB = originalAudioRank(metadata, b);
    if (rankA != rankB)
        return rankA > rankB ? 1 : -1;
    const double prefA = a.languagePreference.value_or(0), prefB = b.languagePreference.value_or(0);
    if (prefA != prefB)
        return prefA > prefB ? 1 : -1;
    const bool m4aA = a.ext == u"m4a", m4aB = b.ext == u"m4a";
    if (m4aA != m4aB)
        return m4aA ? 1 : -1;
    const double qA = a.audioQualityPreference(), qB = b.audioQualityPreference();
    if (qA != qB)
        return qA > qB ? 1 : -1;
    return 0;
}

// Keeps the first format of each key, replaced by a later one only when `better` says so;
// the order of first appearance is kept.
template <typename T, typename Key, typename Better>
QList<T> deduplicate(const QList<T> &items, Key key, Better better)
{
    QList<T> kept;
    QHash<QString, qsizetype> slot;
    for (const T &item : items) {
        const QString k = key(item);
        const auto it = slot.constFind(k);
        if (it == slot.constEnd()) {
            slot.insert(k, kept.size());
            kept.append(item);
        } else if (better(item, kept[*it])) {
            kept[*it] = item;
        }
    }
    return kept;
}

bool higherFirst(const VideoQuality &a, const VideoQuality &b)
{
    const qint64 hA = a.height.value_or(0), hB = b.height.value_or(0);
    if (hA != hB)
        return hA > hB;
    return a.fps.value_or(0) > b.fps.value_or(0);
}

void sortAudio(QList<VideoQuality> &tracks)
{
    struct Keyed {
        VideoQuality quality;
        bool original;
        double preference;
        QString title;
        QString ext;
        double bitrate;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(tracks.size());
    for (const VideoQuality &q : tracks)
        keyed.push_back({q, q.isOriginalAudioTrack(), q.languagePreference.value_or(0),
                         q.audioTrackTitle(), q.ext.toLower(), q.audioQualityPreference()});
    QCollator collator; // the user's locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Titles that differ only in letter case fall through to the later keys, which keeps this
    // a strict weak ordering (formats equal on every key have no defined order anyway).
    std::stable_sort(keyed.begin(), keyed.end(), [&](const Keyed &a, const Keyed &b) {
        if (a.original != b.original)
            return a.original;
        if (a.preference != b.preference)
            return a.preference > b.preference;
        if (a.title != b.title) {
            const int order = collator.compare(a.title, b.title);
            if (order != 0)
                return order < 0;
        }
        if (a.ext != b.ext) {
            if (a.ext == u"m4a" || b.ext == u"m4a")
                return a.ext == u"m4a";
            return a.ext < b.ext;
        }
        return a.bitrate > b.bitrate;
    });
    tracks.clear();
    for (Keyed &k : keyed)
        tracks.append(std::move(k.quality));
}

} // namespace

bool videoIsPreferred(const VideoQuality &a, const VideoQuality &b)
{
    const double fpsA = a.fps.value_or(0), fpsB = b.fps.value_or(0);
    if (fpsA != fpsB)
        return fpsA > fpsB;
    const double qA = a.qualityPreference(), qB = b.qualityPreference();
    if (qA != qB)
        return qA > qB;
    return a.formatID < b.formatID;
}

DownloadChoices downloadChoices(const VideoMetadata &metadata)
{
    QList<VideoQuality> soundOnly;
    for (const VideoQuality &f : metadata.formats) {
        if (f.includesAudio() && !f.includesVideo())
            soundOnly.append(f);
    }
    QList<VideoQuality> pool;
    for (const VideoQuality &f : soundOnly) {
        if (f.hasConcreteAudioCodec())
            pool.append(f);
    }
    if (pool.isEmpty())
        pool = soundOnly;

    const VideoQuality *bestSound = nullptr;
    for (const VideoQuality &f : std::as_const(pool)) {
        if (!bestSound || compareSound(metadata, f, *bestSound) > 0)
            bestSound = &f;
    }

    QList<DownloadOption> withAudio;
    QList<VideoQuality> videoOnly;
    for (const VideoQuality &f : metadata.formats) {
        if (!f.includesVideo())
            continue;
        if (f.includesAudio()) {
            withAudio.append({f, std::nullopt});
        } else {
            const QString container = f.ext.toLower();
            if (bestSound && (container == u"mp4" || container == u"webm"))
                withAudio.append({f, bestSound->formatID});
        }
        if (f.height && !f.includesAudio())
            videoOnly.append(f);
    }

    DownloadChoices choices;
    choices.audioOnly = deduplicate(
        pool, [](const VideoQuality &q) { return q.audioTrackKey() + u'|' + q.ext.toLower(); },
        [](const VideoQuality &later, const VideoQuality &kept) {
            return later.audioQualityPreference() > kept.audioQualityPreference();
        });
    choices.withAudio = deduplicate(
        withAudio, [](const DownloadOption &o) { return o.video.displayedQualityKey(); },
        [](const DownloadOption &later, const DownloadOption &kept) {
            return videoIsPreferred(later.video, kept.video);
        });
    choices.videoOnly = deduplicate(
        videoOnly, [](const VideoQuality &q) { return q.displayedQualityKey(); },
        [](const VideoQuality &later, const VideoQuality &kept) {
            return videoIsPreferred(later, kept);
        });

    std::stable_sort(choices.withAudio.begin(), choices.withAudio.end(),
                     [](const DownloadOption &a, const DownloadOption &b) {
                         return higherFirst(a.video, b.video);
                     });
    std::stable_sort(choices.videoOnly.begin(), choices.videoOnly.end(), higherFirst);
    sortAudio(choices.audioOnly);
    return choices;
}
