#include "ui/launcher_entry.h"

#include "video/download_queue.h"
#include "yandex/download_manager.h"

#include <QDBusMessage>
#include <QVariantMap>

#include <cmath>

LauncherEntry::LauncherEntry(QDBusConnection bus, const QString &desktopFileId, Source source,
                             QObject *parent, int intervalMs)
    : QObject(parent), m_bus(std::move(bus)),
      m_appUri(QStringLiteral("application://%1.desktop").arg(desktopFileId)),
      m_source(std::move(source))
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LauncherEntry::sample);
}

void LauncherEntry::refresh()
{
    if (!m_timer.isActive())
        sample();
}

void LauncherEntry::sample()
{
    const std::optional<double> progress = m_source();
    if (!progress) {
        m_timer.stop();
        if (m_shown)
            send(0, false);
        m_shown.reset();
        return;
    }
    if (!m_timer.isActive())
        m_timer.start();
    // A change under a tenth of a percent would not show.
    if (m_shown && std::abs(*m_shown - *progress) < 0.001)
        return;
    m_shown = progress;
    send(*progress, true);
}

void LauncherEntry::send(double progress, bool visible)
{
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/local/tovrin/mac/LauncherEntry"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), progress);
    properties.insert(QStringLiteral("progress-visible"), visible);
    update << m_appUri << properties;
    m_bus.send(update);
}

std::optional<double> LauncherEntry::overall(const DownloadState &yandex, const QueueState &video)
{
    double sum = 0;
    int count = 0;
    if (!yandex.canStart()) {
        sum += yandex.hasDeterminateProgress ? yandex.progressValue : 0;
        ++count;
    }
    for (const VideoDownloadJob *job : video.jobs) {
        sum += videoJobBarFraction(job->videoState());
        ++count;
    }
    if (count == 0)
        return std::nullopt;
    return std::clamp(sum / count, 0.0, 1.0);
}
