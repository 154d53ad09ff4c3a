#include "control_states.h"
#include "support/test_main.h"
#include "ui/components/destination_row.h"
#include "ui/components/link_row.h"
#include "ui/components/surface_card.h"
#include "ui/components/transfer_status_view.h"
#include "ui/quality_picker.h"
#include "ui/video_download_view.h"
#include "ui/video_job_row.h"
#include "video/video_scene.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

// The real video model over a stand-in engine, shown in the real screen.
struct Screen {
    VideoScene scene;
    std::unique_ptr<VideoDownloadView> view;

    Screen()
    {
        view = std::make_unique<VideoDownloadView>(*scene.model);
        view->resize(760, 900);
        view->show();
    }

    DownloadModel &model() const { return *scene.model; }
    QLineEdit *field() const { return view->linkRow()->field(); }
    QString controls() const
    {
        return controlStates({{"link", field()},
                              {"clear", view->clearButton()},
                              {"format", view->chooseFormatButton()},
                              {"choose", view->destinationRow()->chooseAction()},
                              {"open", view->destinationRow()->openAction()},
                              {"status", view->statusCard()},
                              {"cancel", view->cancelButton()},
                              {"jobs", view->jobsCard()}});
    }
};

} // namespace

class TestVideoView : public QObject {
    Q_OBJECT

private slots:
    void linkFieldAndClearButton()
    {
        Screen s;
        const QString empty = QStringLiteral("link (format) choose open");
        QCOMPARE(s.controls(), empty);
        QTest::keyClicks(s.field(), QStringLiteral("h"));
        QCOMPARE(s.model().url(), QStringLiteral("h"));
        QCOMPARE(s.controls(), QStringLiteral("link clear (format) choose open")); // unsupported
        QTest::keyClick(s.field(), Qt::Key_Return);
        QVERIFY(!s.model().isWorking());

        s.view->clearButton()->click();
        QVERIFY(s.model().url().isEmpty());
        QVERIFY(s.field()->text().isEmpty());
        QCOMPARE(s.controls(), empty);
        QTest::keyClicks(s.field(), QStringLiteral("https://youtu.be/abc"));
        QCOMPARE(s.controls(), QStringLiteral("link clear format choose open"));
    }

    void analysisLocksTheControlsAndCanBeCancelled()
    {
        Screen s;
        s.scene.setEngine(QStringLiteral("exec sleep 30"));
        QTest::keyClicks(s.field(), QStringLiteral("https://youtu.be/abc"));
        QTest::keyClick(s.field(), Qt::Key_Return);
        QVERIFY(s.model().isWorking());
        QCOMPARE(s.controls(), QStringLiteral("(link) (format) (choose) open status"));
        QTRY_VERIFY_WITH_TIMEOUT(s.view->cancelButton()->isVisible(), 10000);
        s.view->cancelButton()->click();
        QCOMPARE(s.view->statusView()->statusLabel()->text(), QStringLiteral("Отменяю…"));
        QTRY_VERIFY_WITH_TIMEOUT(!s.model().isWorking(), 10000);
        QCOMPARE(s.controls(), QStringLiteral("link clear format choose open"));
    }

    void pickerChoiceBecomesAJobRow()
    {
        Screen s;
        s.scene.answerAnalysis(videoDocument("vid1", "Клип", mergeableFormats()), "exec sleep 30");
        QTest::keyClicks(s.field(), QStringLiteral("https://youtu.be/vid1"));
        s.view->chooseFormatButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(s.view->picker() && s.view->picker()->isVisible(), 15000);
        QualityPicker *picker = s.view->picker();
        QCOMPARE(picker->tab(), QualityTab::WithAudio);
        QCOMPARE(picker->offerRows().size(), 1);

        picker->offerRows().first()->click();
        QCOMPARE(s.model().kind(), DownloadKind::Video);
        QTRY_VERIFY(!s.view->picker()); // the model closed the sheet when it queued the job
        QVERIFY(!s.model().showQualityPicker());
        QVERIFY(s.view->jobsCard()->isVisible());
        QCOMPARE(s.view->jobRows().size(), 1);
        VideoJobRow *row = s.view->jobRows().first();
        QTRY_COMPARE_WITH_TIMEOUT(row->phaseWord()->text(), QStringLiteral("Скачивается"), 10000);
        QCOMPARE(s.view->jobsSummary()->text(), QStringLiteral("1 из 3 активных"));
        QCOMPARE(row->button()->toolTip(), QStringLiteral("Отменить загрузку"));

        row->button()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!s.view->jobsCard()->isVisible(), 10000);
        QCOMPARE(s.model().history().size(), 1);
        QCOMPARE(s.model().history().first().result, DownloadHistoryItem::Result::Canceled);
    }

    void closingThePickerTellsTheModel()
    {
        Screen s;
        s.scene.answerAnalysis(videoDocument("vid2", "Клип", combinedFormats()));
        QTest::keyClicks(s.field(), QStringLiteral("https://youtu.be/vid2"));
        s.view->chooseFormatButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(s.view->picker() && s.view->picker()->isVisible(), 15000);
        QTest::keyClick(s.view->picker(), Qt::Key_Escape);
        QTRY_VERIFY(!s.model().showQualityPicker());
        QVERIFY(s.model().jobs().isEmpty());
    }
};

TOVRIN_TEST(TestVideoView);
#include "test_video_view.moc"
