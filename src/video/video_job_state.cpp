#include "video/video_job_state.h"

#include "app/byte_format.h"
#include "app/rate_meter.h"

namespace {

bool succeeded(VideoJobEnding ending)
{
    return ending == VideoJobEnding::Downloaded || ending == VideoJobEnding::Merged
           || ending == VideoJobEnding::MergedAsMKV;
}

QString closingLine(const VideoJobState &state)
{
    const QString codec = state.merge ? state.merge->codec : QString();
    switch (state.ending.value_or(VideoJobEnding::Cancelled)) {
    case VideoJobEnding::RemovedFromQueue:
        return QStringLiteral("Убрано из очереди");
    case VideoJobEnding::Cancelled:
        return QStringLiteral("Загрузка отменена");
    case VideoJobEnding::Downloaded:
        return QStringLiteral("Готово — файл в выбранной папке");
    case VideoJobEnding::Merged:
        return QStringLiteral("Готово — %1 · %2")
            .arg(state.merge ? state.merge->container : QString(), codec);
    case VideoJobEnding::MergedAsMKV:
        return QStringLiteral("Готово — MKV · %1 (MP4 не поддерживается)").arg(codec);
    case VideoJobEnding::DownloadFailed:
        return QStringLiteral("Не удалось скачать файл");
    case VideoJobEnding::LaunchFailed:
        return QStringLiteral("Ошибка запуска");
    case VideoJobEnding::MergeFailed:
        return QStringLiteral("Не удалось объединить видео и звук");
    }
    return {};
}

} // namespace

VideoJobPhase videoJobPhase(const VideoJobState &state)
{
    if (state.stage == VideoJobStage::Queued)
        return VideoJobPhase::Queued;
    if (state.stage != VideoJobStage::Ended || !state.ending)
        return VideoJobPhase::Running;
    if (succeeded(*state.ending))
        return VideoJobPhase::Completed;
    if (*state.ending == VideoJobEnding::RemovedFromQueue
        || *state.ending == VideoJobEnding::Cancelled)
        return VideoJobPhase::Canceled;
    return VideoJobPhase::Failed;
}

QString videoJobStatus(const VideoJobState &state)
{
    switch (state.stage) {
    case VideoJobStage::Queued:
        return QStringLiteral("В очереди");
    case VideoJobStage::Merging:
        return QStringLiteral("Объединяю видео и звук…");
    case VideoJobStage::Cancelling:
        return QStringLiteral("Отменяю…");
    case VideoJobStage::Ended:
        return closingLine(state);
    default:
        break;
    }
    if (state.progress.doneBytes >= 1) {
        if (const std::optional<double> fraction = state.progress.fraction())
            return QStringLiteral("Загружаю… %1%").arg(int(*fraction * 100));
        return QStringLiteral("Загружаю…");
    }
    if (state.stage == VideoJobStage::VideoTrack)
        return QStringLiteral("Скачиваю видеодорожку…");
    if (state.stage == VideoJobStage::SoundTrack)
        return QStringLiteral("Скачиваю звуковую дорожку…");
    return QStringLiteral("Подготавливаю загрузку…");
}

QString videoJobDetail(const VideoJobState &state)
{
    if (state.merge)
        return state.merge->container + QStringLiteral(" · ") + state.merge->codec
               + QStringLiteral(" · без перекодирования");
    const Progress &progress = state.progress;
    if (progress.doneBytes < 1)
        return {};
    QString detail = QStringLiteral("Скачано ") + formatByteCount(progress.doneBytes);
    if (progress.totalBytes > 0)
        detail += QStringLiteral(" из ") + formatByteCount(progress.totalBytes);
    return detail + QStringLiteral(" · ") + DownloadRateMeter::speedText(progress.bytesPerSecond);
}

double videoJobBarFraction(const VideoJobState &state)
{
    if (state.ending && succeeded(*state.ending))
        return 1.0;
    return state.progress.fraction().value_or(state.lastKnownFraction);
}
