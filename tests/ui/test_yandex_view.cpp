#include "control_states.h"
#include "support/test_main.h"
#include "ui/components/destination_row.h"
#include "ui/components/disclosure_header.h"
#include "ui/components/elided_label.h"
#include "ui/components/history_section.h"
#include "ui/components/link_row.h"
#include "ui/components/surface_card.h"
#include "ui/components/transfer_status_view.h"
#include "ui/yandex_download_view.h"
#include "yandex/fake_yandex_disk.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

namespace {

// The real manager against a stand-in Yandex Disk on loopback, shown in the real screen.
struct Screen : DiskScene {
    Screen() : DiskScene(QString())
    {
        view = std::make_unique<YandexDownloadView>(*manager);
        view->resize(760, 900);
        view->show();
        view->activateWindow();
        (void)QTest::qWaitForWindowActive(view.get());
    }

    QLineEdit *field() const { return view->linkRow()->field(); }
    QString controls() const
    {
        return controlStates({{"link", field()},
                              {"download", view->downloadButton()},
                              {"parallel", view->parallelPicker()},
                              {"choose", view->destinationRow()->chooseAction()},
                              {"open", view->destinationRow()->openAction()},
                              {"status", view->statusCard()},
                              {"pause", view->pauseResumeButton()},
                              {"stop", view->stopButton()},
                              {"stopping", view->stoppingLabel()}});
    }
    std::unique_ptr<YandexDownloadView> view;
};

} // namespace

class TestYandexView : public QObject {
    Q_OBJECT

private slots:
    void idleScreenFollowsTheLink()
    {
        Screen s;
        const QString idle = QStringLiteral("link (download) choose open");
        QCOMPARE(s.controls(), idle);
        QTest::keyClicks(s.field(), QStringLiteral("   "));
        QCOMPARE(s.controls(), idle);
        QTest::keyClick(s.field(), Qt::Key_Return);
        QCOMPARE(s.state().phase, DownloadPhase::Idle); // a blank link starts nothing

        s.field()->clear();
        QTest::keyClicks(s.field(), QStringLiteral("https://example.com/x"));
        QCOMPARE(s.controls(), QStringLiteral("link download choose open"));
        QTest::keyClick(s.field(), Qt::Key_Return);
        QCOMPARE(s.state().phase, DownloadPhase::Failed);
        QCOMPARE(s.controls(), QStringLiteral("link download choose open status"));
        QCOMPARE(s.view->statusView()->statusLabel()->text(), s.state().status);

        // The picker shows the manager's value and writes through the manager.
        QComboBox *picker = s.view->parallelPicker();
        QCOMPARE(picker->currentText(), QStringLiteral("4"));
        picker->setCurrentIndex(5);
        emit picker->activated(5);
        QCOMPARE(s.state().concurrentDownloads, 6);

        // The wheel over the closed picker scrolls the page and leaves the value alone.
        s.view->resize(760, 200);
        QTest::mouseClick(s.view->settingsHeader(), Qt::LeftButton);
        QScrollBar *page = s.view->findChild<QScrollArea *>()->verticalScrollBar();
        QTRY_VERIFY(page->maximum() > 0);
        QWheelEvent wheel(QPointF(5, 5), picker->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(picker, &wheel);
        QCOMPARE(picker->currentText(), QStringLiteral("6"));
        QVERIFY(page->value() > 0);
    }

    void controlsFollowThePhases()
    {
        Screen s;
        s.disk.setRootFolder("Папка");
        for (int i = 0; i < 3; ++i)
            s.disk.addFile(QStringLiteral("/f%1.bin").arg(i), QByteArray(400'000, char('a' + i)));
        s.files.setBytesPerSecond(100'000); // slow enough to look at every phase
        // The settings card starts closed: opened, its picker shows among the controls.
        QTest::mouseClick(s.view->settingsHeader(), Qt::LeftButton);

        QTest::keyClicks(s.field(), FakeYandexDisk::kPublicLink);
        s.view->downloadButton()->click();
        const QString locked = QStringLiteral("(link) (download) (parallel) (choose) open status");
        QCOMPARE(s.controls(), locked + " pause stop");

        QTRY_VERIFY_WITH_TIMEOUT(s.view->statusView()->bar()->isVisible(), 10000);
        // Space, Space on "Пауза" pauses and resumes: the focus stays on the control it pressed.
        s.view->pauseResumeButton()->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(s.controls(), locked + " pause stop");
        QCOMPARE(s.view->pauseResumeButton()->text(), QStringLiteral("Продолжить"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(s.state().phase, DownloadPhase::Running);

        // "Остановить" hides when pressed: the focus ends on the link field, not on a stranger.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        if (s.state().phase == DownloadPhase::Stopping)
            QCOMPARE(s.controls(), locked + " stopping");
        QTRY_COMPARE_WITH_TIMEOUT(s.state().phase, DownloadPhase::Canceled, 10000);
        QCOMPARE(s.controls(), QStringLiteral("link download parallel choose open status"));
        QCOMPARE(QApplication::focusWidget(), s.field());

        // A rejected start leaves nothing of the last run's bar and bytes.
        QVERIFY(s.view->statusView()->detailLabel()->isVisible());
        s.field()->clear();
        QTest::keyClicks(s.field(), QStringLiteral("https://example.com/x"));
        QTest::keyClick(s.field(), Qt::Key_Return);
        QCOMPARE(s.state().phase, DownloadPhase::Failed);
        QVERIFY(!s.view->statusView()->bar()->isVisible());
        QVERIFY(!s.view->statusView()->detailLabel()->isVisible());

        // The run entered the history, and the screen's rows act on it through the manager: the
        // stopped run is continued into its folder (a completed one cannot be).
        s.view->historySection()->setExpanded(true);
        QCOMPARE(s.view->historySection()->rows().size(), 1);
        // The texts of a row's menu as it opens, in order; `pick` is triggered.
        const auto menuOf = [&](int row, const QString &pick = {}) {
            QMenu *menu = s.view->historySection()->rows().at(row)->findChild<QMenu *>();
            emit menu->aboutToShow();
            QStringList shown;
            for (QAction *a : menu->actions())
                if (a->isVisible() && !a->isSeparator())
                    shown.append(a->text());
            for (QAction *a : menu->actions())
                if (a->isVisible() && a->text() == pick)
                    a->trigger();
            return shown;
        };
        const QStringList reveal{"Показать в папке", "Удалить из истории"};
        QCOMPARE(menuOf(0), QStringList{"Докачать"} + reveal);
        s.files.setBytesPerSecond(0);
        menuOf(0, "Докачать");
        QTRY_COMPARE_WITH_TIMEOUT(s.state().phase, DownloadPhase::Done, 10000);
        QCOMPARE(s.history().value(0).path, s.history().value(1).path);
        QTRY_COMPARE(s.view->historySection()->rows().size(), 2);
        QCOMPARE(menuOf(0), reveal);
        menuOf(0, "Показать в папке");
        QCOMPARE(s.desktop.opened.size() + s.desktop.selected.size(), 1);
        s.view->historySection()->clearButton()->click();
        QVERIFY(s.history().isEmpty());

        s.view->destinationRow()->openAction()->trigger();
        QCOMPARE(s.desktop.opened.last(), s.manager->destination().path());
    }
};

TOVRIN_TEST(TestYandexView);
#include "test_yandex_view.moc"
