#include "support/test_main.h"
#include "video/download_failure.h"
#include "video_scene.h"

#include <QSignalSpy>

namespace {

// One VideoDownloadJob over stand-in engine and FFmpeg scripts, with a file named as the job's
// result already in the chosen folder. The stand-ins know their "--output" as $out and their
// last argument as $last; `place` writes the file the real engine would, and `hold` records the
// stand-in's pid and blocks until the test releases it.
struct JobScene {
    QTemporaryDir dir;
    QString downloads = dir.filePath("downloads");
    QString temp = dir.filePath("tmp");
    QString held = dir.filePath("held");
    std::unique_ptr<VideoDownloadJob> job;
    QStringList statuses; // each line the row showed, in order
    int ends = 0;

    JobScene()
    {
        QDir().mkpath(downloads);
        QDir().mkpath(temp);
        QFile existing(QDir(downloads).filePath("Clip [abc].mp4"));
        QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("mine") == 4);
    }

    // No script: the tool is missing.
    void writeTool(const QString &name, const QString &body) const
    {
        if (body.isEmpty())
            return;
        VideoScene::writeScript(
            dir.filePath(name),
            QString("#!/bin/sh\nD='%1'\nout=''; prev=''\n"
                    "for a in \"$@\"; do [ \"$prev\" = --output ] && out=\"$a\"; prev=\"$a\"; "
                    "last=\"$a\"; done\n"
                    "hold() { echo $$ > \"$D/held\"; while [ ! -f \"$D/go\" ]; do sleep 0.05; "
                    "done; touch \"$D/released\"; }\n"
                    "place() { file=$(printf '%s' \"$out\" | sed 's/%(title)\\.150B/Clip/; "
                    "s/%(id)\\.64B/abc/; s/%(ext)s/mp4/'); printf media > \"$file\"; }\n")
                    .arg(dir.path())
                + body + u'\n');
    }

    void create(bool merged)
    {
        VideoDownloadJob::Description description;
        description.title = "Clip";
        description.folder = downloads;
        description.input = "https://vimeo.com/1";
        const QString destination = QDir(downloads).filePath("Clip [abc].mp4");
        description.plan =
            merged ? VideoJobPlan::merged(mp4VideoTrack("v1", 720, "avc1"), "a1", destination)
                   : VideoJobPlan::direct("best", false);
        description.outputPath = merged ? destination : downloads;
        VideoJobEnvironment environment;
        environment.tempFolder = temp;
        environment.ffmpegCandidates = {dir.filePath("ffmpeg")};
        environment.refreshIntervalMs = 100;
        job = std::make_unique<VideoDownloadJob>(description, environment);
        job->setEngineExecutable(dir.filePath("engine"));
        statuses = {job->statusText()};
        QObject::connect(job.get(), &VideoDownloadJob::videoStateChanged, job.get(),
                         [this](const VideoJobState &state) {
                             if (statuses.last() != videoJobStatus(state))
                                 statuses << videoJobStatus(state);
                         });
        QObject::connect(job.get(), &Job::finished, job.get(), [this] { ++ends; });
    }

    void release() const { QFile(dir.filePath("go")).open(QIODevice::WriteOnly); }
    bool released() const { return QFile::exists(dir.filePath("released")); }
};

const QString kDrm = "ERROR: This video is DRM protected";

} // namespace

class TestVideoJobs : public QObject {
    Q_OBJECT

private slots:
    // Every way a job ends: the lines its row showed, its phase and failure, and what is left
    // in the chosen folder (the file that was there stays untouched, nothing is replaced) and
    // in the temporary folder (nothing). A stop comes before the start (Queued), or once the
    // job shows `stopAt` and, with `held`, a stand-in blocks; a merge under way is let finish.
    void endsEachWay_data()
    {
        QTest::addColumn<bool>("merged");
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("ffmpeg");
        QTest::addColumn<VideoJobStage>("stopAt"); // Ended: never stopped
        QTest::addColumn<bool>("held");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<VideoJobPhase>("phase");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("output"); // file name of outputPath() at the end
        QTest::addColumn<QStringList>("files");

        const QString queued = "В очереди";
        const QString preparing = "Подготавливаю загрузку…";
        const QString video = "Скачиваю видеодорожку…";
        const QString cancelling = "Отменяю…";
        const QString cancelled = "Загрузка отменена";
        const QString merge = "printf merged > \"$last\"";
        const QStringList mine{"Clip [abc].mp4"};
        const QStringList tracks{queued, preparing, video, "Скачиваю звуковую дорожку…",
                                 "Объединяю видео и звук…"};
        QTest::newRow("direct, beside a file of that name")
            << false << "place"
            << "" << VideoJobStage::Ended << false
            << QStringList{queued, preparing, "Готово — файл в выбранной папке"}
            << VideoJobPhase::Completed << ""
            << "Clip [abc] (2).mp4" << QStringList{"Clip [abc] (2).mp4", "Clip [abc].mp4"};
        QTest::newRow("direct, the engine fails")
            << false << "printf partial > \"$out.part\"; echo '" + kDrm + "' >&2; exit 1"
            << "" << VideoJobStage::Ended << false
            << QStringList{queued, preparing, "Не удалось скачать файл"} << VideoJobPhase::Failed
            << DownloadFailure::explanation(kDrm) << "downloads" << mine;
        QTest::newRow("direct, the engine wrote nothing")
            << false << "exit 0"
            << "" << VideoJobStage::Ended << false
            << QStringList{queued, preparing, "Не удалось скачать файл"} << VideoJobPhase::Failed
            << DownloadFailure::explanation("") << "downloads" << mine;
        QTest::newRow("direct, no engine")
            << false << ""
            << "" << VideoJobStage::Ended << false
            << QStringList{queued, preparing, "Ошибка запуска"} << VideoJobPhase::Failed
            << "Не удалось запустить программу «engine»: файл не найден."
            << "downloads" << mine;
        QTest::newRow("merged, no FFmpeg")
            << true << "place"
            << "" << VideoJobStage::Ended << false
            << tracks + QStringList{"Не удалось объединить видео и звук"} << VideoJobPhase::Failed
            << "Не найден встроенный FFmpeg"
            << "Clip [abc].mp4" << mine;
        QTest::newRow("cancelled in the queue")
            << false << "place"
            << "" << VideoJobStage::Queued << false << QStringList{queued, "Убрано из очереди"}
            << VideoJobPhase::Canceled << ""
            << "downloads" << mine;
        QTest::newRow("cancelled at the start")
            << false << "hold; place"
            << "" << VideoJobStage::Preparing << false
            << QStringList{queued, preparing, cancelling, cancelled} << VideoJobPhase::Canceled
            << ""
            << "downloads" << mine;
        QTest::newRow("cancelled as the engine starts")
            << false << "hold; place"
            << "" << VideoJobStage::Downloading << false
            << QStringList{queued, preparing, cancelling, cancelled} << VideoJobPhase::Canceled
            << ""
            << "downloads" << mine;
        QTest::newRow("cancelled during the video track")
            << true << "case \"$out\" in */video.*) hold;; esac; place" << merge
            << VideoJobStage::VideoTrack << true
            << QStringList{queued, preparing, video, cancelling, cancelled}
            << VideoJobPhase::Canceled << ""
            << "Clip [abc].mp4" << mine;
        QTest::newRow("cancelled during the merge")
            << true << "place"
            << "hold; " + merge << VideoJobStage::Merging << true
            << tracks + QStringList{cancelling, cancelled} << VideoJobPhase::Canceled << ""
            << "Clip [abc].mp4" << mine;
    }
    void endsEachWay()
    {
        QFETCH(bool, merged);
        QFETCH(QString, engine);
        QFETCH(QString, ffmpeg);
        QFETCH(VideoJobStage, stopAt);
        QFETCH(bool, held);
        JobScene s;
        s.writeTool("engine", engine);
        s.writeTool("ffmpeg", ffmpeg);
        s.create(merged);
        if (stopAt != VideoJobStage::Queued)
            s.job->start();
        if (stopAt != VideoJobStage::Ended) {
            QTRY_VERIFY_WITH_TIMEOUT(s.job->videoState().stage == stopAt
                                         && (!held || VideoScene::processAlive(s.held)),
                                     10000);
            s.job->cancel();
            // Only FFmpeg is let finish; a held engine not stopped would keep the job forever.
            s.release();
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.ends, 1, 15000);
        QTEST(s.statuses, "statuses");
        QTEST(s.job->phase(), "phase");
        QTEST(s.job->errorMessage(), "failure");
        QTEST(QFileInfo(s.job->outputPath()).fileName(), "output");
        QTEST(VideoScene::entries(s.downloads), "files");
        QFile mine(QDir(s.downloads).filePath("Clip [abc].mp4"));
        QVERIFY(mine.open(QIODevice::ReadOnly));
        QCOMPARE(mine.readAll(), QByteArray("mine"));
        QCOMPARE(VideoScene::entries(s.temp), QStringList());
        QCOMPARE(s.released(), stopAt == VideoJobStage::Merging);
        QVERIFY(!VideoScene::processAlive(s.held));
    }

    // Going away while it runs, a job stops the engine or FFmpeg and removes its work folder
    // before its destructor returns; it reports no end.
    void destroyingARunningJobStopsEverything_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("ffmpeg");
        QTest::addColumn<VideoJobStage>("stage");
        QTest::newRow("during the video track") << "hold"
                                                << "" << VideoJobStage::VideoTrack;
        QTest::newRow("during the merge") << "printf track > \"$out\""
                                          << "hold" << VideoJobStage::Merging;
    }
    void destroyingARunningJobStopsEverything()
    {
        QFETCH(QString, engine);
        QFETCH(QString, ffmpeg);
        QFETCH(VideoJobStage, stage);
        JobScene s;
        s.writeTool("engine", engine);
        s.writeTool("ffmpeg", ffmpeg);
        s.create(true);
        s.job->start();
        QTRY_VERIFY_WITH_TIMEOUT(
            s.job->videoState().stage == stage && VideoScene::processAlive(s.held), 10000);
        QVERIFY(!VideoScene::entries(s.temp).isEmpty());
        s.job.reset();
        QVERIFY(!VideoScene::processAlive(s.held));
        QCOMPARE(VideoScene::entries(s.temp), QStringList());
        QCOMPARE(VideoScene::entries(s.downloads), QStringList({"Clip [abc].mp4"}));
        QCOMPARE(s.ends, 0);
    }

    // A merged job shows each stage's own progress: a line split over two writes counts once
    // it is whole, a finished file shows full at once and the last line without a line break
    // still arrives; the next stage starts from nothing rather than from the last one's bytes.
    void showsEachStagesProgress()
    {
        JobScene s;
        s.writeTool("engine", "case \"$out\" in */video.*)\n"
                              "  printf 'tov'; sleep 0.2; printf 'rin:50|100|NA\\n'; hold\n"
                              "  printf 'tovrin:100|100|NA';;\n"
                              "*) echo 'tovrin:7|7|NA';;\n"
                              "esac; place");
        s.writeTool("ffmpeg", "printf merged > \"$last\"");
        s.create(true);
        s.job->start();
        QTRY_COMPARE_WITH_TIMEOUT(s.job->statusText(), "Загружаю… 50%", 10000);
        QCOMPARE(s.job->videoState().stage, VideoJobStage::VideoTrack);
        QCOMPARE(s.job->videoState().progress.doneBytes, 50);
        QCOMPARE(s.job->videoState().progress.totalBytes, 100);
        s.release();
        QTRY_COMPARE_WITH_TIMEOUT(s.ends, 1, 15000);
        QCOMPARE(
            s.statuses,
            QStringList({"В очереди", "Подготавливаю загрузку…", "Скачиваю видеодорожку…",
                         "Загружаю… 50%", "Загружаю… 100%", "Скачиваю звуковую дорожку…",
                         "Загружаю… 100%", "Объединяю видео и звук…", "Готово — MP4 · H.264"}));
        QCOMPARE(QFileInfo(s.job->outputPath()).fileName(), "Clip [abc] (2).mp4");
        QFile merged(s.job->outputPath());
        QVERIFY(merged.open(QIODevice::ReadOnly));
        QCOMPARE(merged.readAll(), QByteArray("merged"));
        QCOMPARE(VideoScene::entries(s.temp), QStringList());
    }

    // Five jobs for one video through the queue: three run, oldest first; a queued one leaves
    // at once and takes no slot, a running one that ends makes room. The files land beside an
    // existing one without replacing anything, and each end reaches the history.
    void queueRunsThreeOldestFirst()
    {
        VideoScene s;
        QDir downloads(s.locations.downloadsFolder);
        QFile existing(downloads.filePath("Clip [abc].mp4"));
        QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("mine") == 4);
        existing.close();
        const QString go = s.dir.filePath("go");
        s.setEngine(QString("case \"$*\" in *vimeo.com/4*) echo '%2' >&2; exit 1;; esac\n"
                            "while [ ! -f '%1' ]; do sleep 0.05; done\n"
                            "file=$(printf '%s' \"$out\" | sed 's/%(title)\\.150B/Clip/; "
                            "s/%(id)\\.64B/abc/; s/%(ext)s/mp4/')\n"
                            "printf 0123456789 > \"$file\"\n")
                        .arg(go, kDrm));
        QSignalSpy busy(s.model.get(), &DownloadModel::busyChanged);
        for (int i = 1; i <= 5; ++i) {
            s.model->setUrl(QString("https://vimeo.com/%1").arg(i));
            s.model->startDownload("best", false);
        }
        QCOMPARE(s.model->status(), "Добавлено в загрузки");
        QCOMPARE(s.model->runningJobCount(), 3);
        QCOMPARE(s.model->queuedJobCount(), 2);
        QCOMPARE(s.model->visibleJobs().size(), 5);
        QVERIFY(s.model->isBusy());
        QCOMPARE(busy.size(), 1);
        const QList<VideoDownloadJob *> jobs = s.model->jobs(); // newest first
        QCOMPARE(jobs.at(0)->phase(), VideoJobPhase::Queued);
        QCOMPARE(jobs.at(1)->phase(), VideoJobPhase::Queued);
        QCOMPARE(jobs.at(4)->phase(), VideoJobPhase::Running);

        const auto newest = [&] { return s.model->history().first(); };
        s.model->cancelOrRemove(jobs.at(0));
        QCOMPARE(s.model->history().size(), 1);
        QCOMPARE(newest().message, "Убрано из очереди");
        QCOMPARE(newest().result, DownloadHistoryItem::Result::Canceled);
        QCOMPARE(s.model->runningJobCount(), 3);
        QCOMPARE(s.model->queuedJobCount(), 1);
        // When a running one ends, the one waiting starts; it fails at once.
        s.model->cancelOrRemove(jobs.at(3));
        QTRY_COMPARE_WITH_TIMEOUT(s.model->history().size(), 3, 10000);
        QCOMPARE(s.model->history().at(1).message, "Загрузка отменена");
        QCOMPARE(s.model->history().at(1).result, DownloadHistoryItem::Result::Canceled);
        QCOMPARE(newest().message, "Не удалось скачать файл");
        QCOMPARE(newest().result, DownloadHistoryItem::Result::Failed);

        QFile(go).open(QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(s.model->jobs().size(), 0, 15000);
        QCOMPARE(s.model->history().size(), 5);
        QCOMPARE(newest().result, DownloadHistoryItem::Result::Completed);
        QCOMPARE(newest().message, "Готово — файл в выбранной папке");
        QCOMPARE(QFileInfo(newest().path).size(), 10);
        QCOMPARE(s.downloadsEntries(),
                 QStringList({"Clip [abc] (2).mp4", "Clip [abc] (3).mp4", "Clip [abc].mp4"}));
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("mine"));
        QCOMPARE(s.tempEntries(), QStringList());
        QVERIFY(!s.model->isBusy());
        QCOMPARE(busy.size(), 2);
    }
};

TOVRIN_TEST(TestVideoJobs);
#include "test_video_jobs.moc"
