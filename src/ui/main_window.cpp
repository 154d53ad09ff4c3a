#include "ui/main_window.h"

#include "app/platform/notifications.h"
#include "ui/components/destination_row.h"
#include "ui/icons.h"

#include <QCloseEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QWindow>

MainWindow::MainWindow(QWidget *yandexView, QWidget *videoView, QWidget *parent)
    : QMainWindow(parent), m_trayAvailable(QSystemTrayIcon::isSystemTrayAvailable())
{
    setWindowTitle(QStringLiteral("Tovrin"));
    setWindowIcon(Icons::appIcon());
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    m_tabs = new QTabWidget(this);
    m_tabs->setDocumentMode(true);
    m_tabs->addTab(yandexView, Icons::icon(QStringLiteral("externaldrive.fill")),
                   QStringLiteral("Яндекс Диск"));
    m_tabs->addTab(videoView, Icons::icon(QStringLiteral("play.rectangle.fill")),
                   QStringLiteral("Видео"));
    m_tabs->setCurrentIndex(0);
    setCentralWidget(m_tabs);
    for (DestinationRow *row : findChildren<DestinationRow *>())
        connect(row, &DestinationRow::quitRequested, this, &MainWindow::quitRequested);
}

AppSection MainWindow::selectedSection() const
{
    return m_tabs->currentIndex() == 1 ? AppSection::Video : AppSection::Yandex;
}

void MainWindow::setSelectedSection(AppSection section)
{
    m_tabs->setCurrentIndex(section == AppSection::Video ? 1 : 0);
}

void MainWindow::bringToFront(const QString &activationToken)
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    if (!activationToken.isEmpty() && windowHandle())
        windowHandle()->setProperty("_q_waylandActivationToken", activationToken);
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_isBusy || !m_isBusy()) {
        event->accept();
        emit quitRequested();
        return;
    }
    // Downloads go on: the window steps aside but the program stays reachable.
    event->ignore();
    if (m_trayAvailable) {
        ensureTrayIcon();
        m_tray->show();
        hide();
    } else {
        showMinimized();
        if (m_notifications)
            m_notifications->notify(
                QStringLiteral("Tovrin"),
                QStringLiteral("Tovrin продолжает загрузку. Чтобы выйти, остановите загрузки "
                               "или выберите «Выйти» в меню."));
    }
}

void MainWindow::ensureTrayIcon()
{
    if (m_tray)
        return;
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setToolTip(QStringLiteral("Tovrin — загрузки продолжаются"));
    auto *menu = new QMenu(this);
    menu->addAction(QStringLiteral("Показать окно"), this, [this] { bringToFront(); });
    menu->addAction(QStringLiteral("Выйти"), this, &MainWindow::quitRequested);
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    bringToFront();
            });
}
