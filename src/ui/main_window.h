#pragma once

#include <QMainWindow>

#include <functional>

class Notifications;
class QSystemTrayIcon;
class QTabWidget;

// The tabs of the window, in order.
enum class AppSection { Yandex, Video };

// The one window of the program: the Yandex Disk tab first, the video tab second. Closing
// it while something downloads keeps the program running (in the tray, or minimised where
// the desktop has no tray, which a notification then explains); closing it when idle quits.
// "Выйти" in the tray menu or in either screen's folder menu quits at any time.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(QWidget *yandexView, QWidget *videoView, QWidget *parent = nullptr);

    static constexpr int kMinimumWidth = 700;
    static constexpr int kMinimumHeight = 620;

    QTabWidget *tabs() const { return m_tabs; }
    AppSection selectedSection() const;
    void setSelectedSection(AppSection section);

    // Tells whether anything is under way on either side; asked when the window closes.
    void setBusyCheck(std::function<bool()> isBusy) { m_isBusy = std::move(isBusy); }
    // Used where the desktop's tray is unavailable (and by tests).
    void setTrayAvailable(bool available) { m_trayAvailable = available; }
    // Where the window tells the user that the program goes on without it (optional).
    void setNotifications(Notifications *notifications) { m_notifications = notifications; }

    // Shows the window again and brings it to the front (tray click, second start).
    void bringToFront(const QString &activationToken = QString());

signals:
    // Closed while idle: the program should end.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void ensureTrayIcon();

    QTabWidget *m_tabs = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    Notifications *m_notifications = nullptr;
    std::function<bool()> m_isBusy;
    bool m_trayAvailable;
};
