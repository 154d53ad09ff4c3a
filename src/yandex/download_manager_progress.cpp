// The download manager's progress aggregation, published setters and history entries.
#include "yandex/download_manager.h"

#include "app/byte_format.h"
#include "yandex/progress_board.h"

#include <QFileInfo>
#include <QUuid>

namespace {

QString sizeText(qint64 bytes)
{
    return formatByteCount(std::max<qint64>(bytes, 0), ByteUnit::Kilobyte, ByteUnit::Terabyte);
}

} // namespace

void DownloadManager::collectProgress()
{
    if (!m_board)
        return;
    ProgressBoard::Snapshot snapshot = m_board->take();
    for (auto it = snapshot.written.cbegin(); it != snapshot.written.cend(); ++it) {
        if (!m_completedIDs.contains(it.key()))
            m_activeProgress.insert(it.key(), it.value());
    }
    for (const auto &[id, size] : snapshot.completed)
        markCompleted(id, size);
    // One stream for the whole run: every received byte counts once, even for files that
    // started and finished between two refreshes.
    m_rateMeter.record(QStringLiteral("run"), snapshot.receivedBytes, now());
    if (m_phase == DownloadPhase::Paused)
        m_rateMeter.restartWindow(now());
}

void DownloadManager::markCompleted(const QString &id, qint64 size)
{
    if (m_completedIDs.contains(id))
        return;
    m_completedIDs.insert(id);
    m_activeProgress.remove(id);
    ++m_completedFiles;
    m_completedBytes += size;
}

void DownloadManager::refreshProgress()
{
    if (m_phase != DownloadPhase::Running && m_phase != DownloadPhase::Paused)
        return;
    qint64 done = m_completedBytes;
    for (const qint64 written : std::as_const(m_activeProgress))
        done += written;
    if (m_totalBytes > 0)
        setProgressValue(std::min(1.0, double(done) / double(m_totalBytes)));
    const bool paused = m_phase == DownloadPhase::Paused;
    setStatus(
        paused ? QStringLiteral("На паузе")
               : QStringLiteral("Готово файлов: %1 из %2").arg(m_completedFiles).arg(m_totalFiles));
    const std::optional<double> speed = paused ? std::nullopt : m_rateMeter.bytesPerSecond(now());
    QString detail = QStringLiteral("Скачано: ") + sizeText(done);
    if (m_totalBytes > 0)
        detail += QStringLiteral(" из ") + sizeText(m_totalBytes);
    detail += QStringLiteral(" · ") + DownloadRateMeter::speedText(speed);
    setDetail(detail);
}

void DownloadManager::addHistory(DownloadHistoryItem::Result result)
{
    const QString path = m_currentOutputPath.isEmpty() ? m_destination : m_currentOutputPath;
    QString name = QFileInfo(path).fileName();
    if (name.isEmpty())
        name = m_publicLink;
    if (name.isEmpty())
        name = QStringLiteral("Загрузка");
    m_history.add(
        DownloadHistoryItem{QUuid::createUuid(), name, path, m_clock.wallTime(), result, m_status});
    emit historyChanged();
}

void DownloadManager::setPhase(DownloadPhase phase)
{
    if (phase == m_phase)
        return;
    m_phase = phase;
    emit phaseChanged();
}

void DownloadManager::setStatus(const QString &status)
{
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged();
}

void DownloadManager::setDetail(const QString &detail)
{
    if (detail == m_detail)
        return;
    m_detail = detail;
    emit detailChanged();
}

void DownloadManager::setProgressValue(double value)
{
    if (value == m_progressValue)
        return;
    m_progressValue = value;
    emit progressValueChanged();
}

void DownloadManager::setHasDeterminateProgress(bool value)
{
    if (value == m_hasDeterminateProgress)
        return;
    m_hasDeterminateProgress = value;
    emit hasDeterminateProgressChanged();
}

void DownloadManager::setDestination(const QString &path)
{
    if (path == m_destination)
        return;
    m_destination = path;
    emit destinationURLChanged();
}
