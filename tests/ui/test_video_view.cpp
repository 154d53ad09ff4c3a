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
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
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
        view->activateWindow();
        (void)QTest::qWaitForWindowActive(view.get());
    }

    DownloadModel &model() const { return *scene.model; }
    const AnalysisState &analysis() const { return scene.model->analysis().state(); }
    // Analyses `link` through the screen until the picker shows.
    QualityPicker *openPicker(const QString &link) const
    {
        QTest::keyClicks(field(), link);
        view->chooseFormatButton()->click();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(view->picker() && view->picker()->isVisible(), 15000); }();
        return view->picker();
    }
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

// A video track alone: nothing to offer with sound, and no sound track.
const QString kVideoOnly = QStringLiteral("[{\"format_id\":\"137\",\"ext\":\"mp4\",\"height\":1080,"
                                          "\"vcodec\":\"avc1\",\"acodec\":\"none\"}]");

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
        QCOMPARE(s.controls(), QStringLiteral("link clear (format) choose open")); // unsupported
        QTest::keyClick(s.field(), Qt::Key_Return);
        QVERIFY(!s.analysis().isWorking());

        s.view->clearButton()->setFocus(); // it hides when pressed: the focus goes to the field
        QTest::keyClick(s.view->clearButton(), Qt::Key_Space);
        QVERIFY(s.field()->text().isEmpty());
        QCOMPARE(QApplication::focusWidget(), s.field());
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
        QVERIFY(s.analysis().isWorking());
        QCOMPARE(s.controls(), QStringLiteral("(link) (format) (choose) open status"));
        QTRY_VERIFY_WITH_TIMEOUT(s.view->cancelButton()->isVisible(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(s.scene.engineCalls().size(), 1, 10000); // the engine has begun
        // Nothing is queued while an analysis runs.
        s.model().startDownload("best", false, DownloadKind::Video);
        QVERIFY(!s.model().queue().hasUnfinishedJobs());

        s.view->cancelButton()->click();
        QCOMPARE(s.view->statusView()->statusLabel()->text(), QStringLiteral("Отменяю…"));
        QTRY_VERIFY_WITH_TIMEOUT(!s.analysis().isWorking(), 10000);
        QVERIFY(!s.analysis().error);
        QCOMPARE(s.controls(), QStringLiteral("link clear format choose open"));
    }

    void pickerChoiceBecomesAJobRow()
    {
        Screen s;
        s.scene.answerAnalysis(
            videoDocument("vid1", "Клип", mergeableFormats()),
            "for i in $(seq 100); do echo \"tovrin:$i|100|NA\"; sleep 0.1; done");
        QualityPicker *picker = s.openPicker(QStringLiteral("https://youtu.be/vid1"));
        QVERIFY(!picker->publicationPicker()->isVisible()); // a single video
        QCOMPARE(picker->offerRows().size(), 1);

        picker->offerRows().first()->click();
        QTRY_VERIFY(!s.view->picker()); // the model closed the sheet when it queued the job
        QVERIFY(s.view->jobsCard()->isVisible());
        QCOMPARE(s.view->jobRows().size(), 1);
        VideoJobRow *row = s.view->jobRows().first();
        QTRY_COMPARE_WITH_TIMEOUT(row->phaseWord()->text(), QStringLiteral("Скачивается"), 10000);
        QCOMPARE(s.view->jobsSummary()->text(), QStringLiteral("1 из 3 активных"));
        // Progress ticks move the bar without drawing the row's icons again.
        const qint64 icon = row->phaseIcon()->pixmap().cacheKey();
        const qint64 button = row->button()->icon().cacheKey();
        for (int tick = 0; tick < 2; ++tick) {
            const int shown = row->bar()->value();
            QTRY_VERIFY_WITH_TIMEOUT(row->bar()->value() > shown, 10000);
        }
        QCOMPARE(row->phaseIcon()->pixmap().cacheKey(), icon);
        QCOMPARE(row->button()->icon().cacheKey(), button);

        row->button()->setFocus(); // its row goes away: the focus goes back to the link
        QTest::keyClick(row->button(), Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(!s.view->jobsCard()->isVisible(), 10000);
        QCOMPARE(s.view->focusWidget(), s.field()); // the sheet left the window inactive
        QCOMPARE(s.model().history().items().size(), 1);
        QCOMPARE(s.model().history().items().first().result, DownloadHistoryItem::Result::Canceled);
    }

    // Each tab's first row queues what it offers, as the kind of download it is: the best sound
    // where no sound track is offered, and (analysed again) the video track alone.
    void pickerRowsQueueWhatTheyOffer()
    {
        Screen s;
        s.scene.answerAnalysis(videoDocument("vid3", "Клип", kVideoOnly), "exec sleep 30");
        for (const QualityTab tab : {QualityTab::AudioOnly, QualityTab::VideoOnly}) {
            QualityPicker *picker = s.openPicker(QStringLiteral("https://youtu.be/vid3"));
            picker->tabButton(tab)->click();
            picker->offerRows().first()->click();
        }
        const QList<VideoDownloadJob *> jobs = s.model().queue().state().jobs; // newest first
        QCOMPARE(jobs.size(), 2);
        QCOMPARE(jobs.at(1)->kind(), DownloadKind::Audio);
        QCOMPARE(jobs.at(1)->plan().format, "bestaudio[ext=m4a]/bestaudio");
        QVERIFY(jobs.at(1)->plan().extractAudio);
        QCOMPARE(jobs.at(0)->kind(), DownloadKind::Video);
        QCOMPARE(jobs.at(0)->plan().format, "137");
        QVERIFY(!jobs.at(0)->plan().extractAudio);
    }

    // Another video of the publication: the sheet shows its index, lists and tab together.
    void pickerFollowsTheChosenVideo()
    {
        Screen s;
        const QString entry = "{\"id\":\"e%1\",\"formats\":%2}";
        s.scene.answerAnalysis(
            QString("{\"id\":\"p\",\"entries\":[%1,%2,%3]}")
                .arg(entry.arg("1", combinedFormats()), entry.arg("2", kVideoOnly),
                     entry.arg("3", QString(kVideoOnly).remove(",\"height\":1080")))
                .toUtf8());
        QualityPicker *picker = s.openPicker(QStringLiteral("https://vk.com/wall1"));
        QCOMPARE(picker->tab(), QualityTab::WithAudio);
        emit picker->publicationPicker()->activated(1);
        QCOMPARE(picker->publicationPicker()->currentIndex(), 1);
        QCOMPARE(picker->tab(), QualityTab::VideoOnly);
        QCOMPARE(picker->offerRows().size(), 1);
        QCOMPARE(picker->offerRows().first()->text(), QStringLiteral("1080p"));
        // A video with nothing to keep offers nothing on any tab; the next one resets the tab.
        emit picker->publicationPicker()->activated(2);
        for (const QualityTab tab : {QualityTab::WithAudio, QualityTab::AudioOnly}) {
            picker->setTab(tab);
            QVERIFY(picker->offerRows().isEmpty());
        }
        emit picker->publicationPicker()->activated(0);
        QCOMPARE(picker->tab(), QualityTab::WithAudio);

        // Closing the sheet without a choice tells the model.
        QTest::keyClick(picker, Qt::Key_Escape);
        QTRY_VERIFY(!s.model().choices().state().showPicker);
        QVERIFY(!s.model().queue().hasUnfinishedJobs());
    }
};

TOVRIN_TEST(TestVideoView);
#include "test_video_view.moc"
