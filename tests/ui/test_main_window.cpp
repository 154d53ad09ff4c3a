#include "support/test_main.h"
#include "ui/main_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void opensOnTheYandexTabAndKeepsItsMinimumSize()
    {
        MainWindow window(new QLabel("a"), new QLabel("b"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Tovrin"));
        QCOMPARE(window.tabs()->count(), 2);
        QCOMPARE(window.tabs()->tabText(0), QStringLiteral("Яндекс Диск"));
        QCOMPARE(window.tabs()->tabText(1), QStringLiteral("Видео"));
        QCOMPARE(window.selectedSection(), AppSection::Yandex);

        window.resize(300, 200);
        QTRY_VERIFY(window.width() >= 700 && window.height() >= 620);
    }

    void closingWhileBusyKeepsTheProgram()
    {
        bool busy = true;
        MainWindow window(new QLabel("a"), new QLabel("b"));
        window.setBusyCheck([&busy] { return busy; });
        window.setTrayAvailable(false);
        QSignalSpy quit(&window, &MainWindow::quitRequested);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QVERIFY(!window.close()); // refused: a download is running
        QCOMPARE(quit.size(), 0);
        QTRY_VERIFY(window.isMinimized());

        window.bringToFront();
        QTRY_VERIFY(!window.isMinimized());
        busy = false;
        QVERIFY(window.close());
        QCOMPARE(quit.size(), 1);
    }
};

TOVRIN_TEST(TestMainWindow);
#include "test_main_window.moc"
