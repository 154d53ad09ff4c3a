#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

struct DownloadState;
struct QueueState;

// The overall progress of what runs, on the desktop's dock or task bar (Ubuntu's dock and KDE's
// task manager show it), through the com.canonical.Unity.LauncherEntry signal Update. The
// progress is sampled at most once a second while something runs, not on every tick; the bar
// is cleared once nothing does.
class LauncherEntry final : public QObject {
    Q_OBJECT
public:
    // A fraction from 0 to 1 while something runs; nothing when nothing does.
    using Source = std::function<std::optional<double>()>;

    LauncherEntry(QDBusConnection bus, const QString &desktopFileId, Source source,
                  QObject *parent = nullptr, int intervalMs = 1000);

    // Something may have started or ended: samples now, then keeps sampling while it runs.
    void refresh();

    // Every Yandex Disk run and video job under way weighs the same; a queued job counts as
    // not started, a run of unknown size as at its start.
    static std::optional<double> overall(const DownloadState &yandex, const QueueState &video);

private:
    void sample();
    void send(double progress, bool visible);

    QDBusConnection m_bus;
    QString m_appUri;
    Source m_source;
    QTimer m_timer;
    std::optional<double> m_shown;
};
