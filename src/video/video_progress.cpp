#include "video/video_progress.h"

#include "engine/engine_arguments.h"

#include <QStringList>

#include <cmath>

namespace {

// A field the engine does not know comes out as a placeholder ("NA"); negative counts are not
// byte counts either. The total of a fragmented (HLS, DASH) download is an estimate with a
// fraction ("161680.0"), rounded to whole bytes.
std::optional<qint64> readCount(const QString &piece)
{
    const QString text = piece.trimmed();
    bool ok = false;
    const qint64 whole = text.toLongLong(&ok, 10);
    if (ok)
        return whole < 0 ? std::nullopt : std::optional(whole);
    const double value = text.toDouble(&ok);
    // Also refuses "inf", "nan" and counts beyond 2^62, far above any real file.
    if (!ok || !(value >= 0 && value < 0x1p62))
        return std::nullopt;
    return qint64(std::llround(value));
}

} // namespace

std::optional<VideoProgressSnapshot> parseProgressLine(const QString &line)
{
    const qsizetype marker = line.indexOf(EngineArguments::kProgressMarker);
    if (marker < 0)
        return std::nullopt;
    const QStringList pieces =
        line.mid(marker + EngineArguments::kProgressMarker.size()).split(u'|');
    if (pieces.size() != 3)
        return std::nullopt;
    const std::optional<qint64> downloaded = readCount(pieces.at(0));
    if (!downloaded)
        return std::nullopt;
    VideoProgressSnapshot snapshot;
    snapshot.downloadedBytes = *downloaded;
    const std::optional<qint64> total = readCount(pieces.at(1));
    const std::optional<qint64> estimate = readCount(pieces.at(2));
    if (total && *total > 0)
        snapshot.totalBytes = total;
    else if (estimate && *estimate > 0)
        snapshot.totalBytes = estimate;
    return snapshot;
}
