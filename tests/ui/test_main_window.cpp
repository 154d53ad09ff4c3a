#include "support/test_main.h"
#include "ui/main_window.h"
#include "ui/yandex_download_view.h"
#include "yandex/fake_yandex_disk.h"

#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    // A real run over a slow loopback Yandex Disk: closing the window neither ends the program
    // nor the run, which finishes its file; once idle, closing quits.
    void closingDuringARunKeepsTheRunGoing()
    {
        DiskScene scene;
        const QByteArray body = patterned(600'000);
        scene.disk.setRootFile(QStringLiteral("clip.bin"), body);
        scene.files.setBytesPerSecond(1'000'000);
        MainWindow window(new YandexDownloadView(*scene.manager), new QLabel("b"));
        window.setBusyCheck([&] { return !scene.state().canStart(); });
        window.setTrayAvailable(false);
        QSignalSpy quit(&window, &MainWindow::quitRequested);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        scene.manager->start();
        QVERIFY(!scene.state().canStart());
        QVERIFY(!window.close()); // refused: a download is running
        QCOMPARE(quit.size(), 0);
        QTRY_VERIFY(window.isMinimized());

        QTRY_VERIFY_WITH_TIMEOUT(scene.state().canStart(), 15000);
        QCOMPARE(scene.state().phase, DownloadPhase::Done);
        QCOMPARE(contentsOf(QDir(scene.locations.downloads()).filePath("clip.bin")), body);

        window.bringToFront();
        QTRY_VERIFY(!window.isMinimized());
        QVERIFY(window.close());
        QCOMPARE(quit.size(), 1);
    }
};

TOVRIN_TEST(TestMainWindow);
#include "test_main_window.moc"
