#include "support/test_main.h"
#include "ui/main_window.h"

#include <QTabWidget>
#include <QTest>

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void opensOnTheYandexTabAndKeepsItsMinimumSize()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Tovrin"));
        QCOMPARE(window.tabs()->count(), 2);
        QCOMPARE(window.tabs()->tabText(0), QStringLiteral("Яндекс Диск"));
        QCOMPARE(window.tabs()->tabText(1), QStringLiteral("Видео"));
        QCOMPARE(window.tabs()->currentIndex(), 0);

        window.resize(300, 200);
        QTRY_VERIFY(window.width() >= 700 && window.height() >= 620);
    }
};

TOVRIN_TEST(TestMainWindow);
#include "test_main_window.moc"
