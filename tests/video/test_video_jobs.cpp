#include "support/test_main.h"
#include "video/download_failure.h"
#include "video_scene.h"

#include <QSignalSpy>

// Jobs and the queue through the real DownloadModel, with stand-in engine and FFmpeg scripts.
class TestVideoJobs : public QObject {
    Q_OBJECT

    // The engine writes a finished file the way the real one fills in the output template.
    static QString writeOutput(const QString &bytes = "media")
    {
        return QString("file=$(printf '%s' \"$out\" | sed 's/%(title)\\.150B/Clip/; "
                       "s/%(id)\\.64B/abc/; s/%(ext)s/mp4/')\n"
                       "printf '%1' > \"$file\"\n")
            .arg(bytes);
    }

    static DownloadHistoryItem newest(const VideoScene &s)
    {
        return s.model->history().items().first();
    }

    static void startDirect(VideoScene &s, const QString &link = "https://vimeo.com/1")
    {
        s.model->analysis().setLink(link);
        s.model->startDownload("best", false, DownloadKind::Video);
    }

private slots:
    // A merged job beside an existing file, cancelled at every stage or failed by the engine:
    // its processes end, and it leaves nothing but its history entry. A failure takes the
    // engine's last words to the job (the mapping itself is DownloadFailure's).
    void mergedJobsEndCleanly_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("cancel while starting") << "starting";
        QTest::newRow("cancel during the video track") << "video";
        QTest::newRow("cancel during the merge") << "merge";
        QTest::newRow("engine fails") << "fails";
    }
    void mergedJobsEndCleanly()
    {
        QFETCH(QString, stage);
        VideoScene probe;
        const QString ffmpeg = probe.dir.filePath("ffmpeg");
        const QString pid = probe.dir.filePath("pid");
        const QString diagnostic = "ERROR: This video is DRM protected";
        // FFmpeg takes a while and then writes its output (the last argument).
        VideoScene::writeScript(ffmpeg, QString("#!/bin/sh\necho $$ > '%1'\nsleep 1.5\n"
                                                "for last; do :; done; printf merged > \"$last\"\n")
                                            .arg(pid + "-merge"));
        VideoScene s({ffmpeg});
        s.setEngine(QString("case \"$out\" in */video.mp4) track=video;; *) track=audio;; esac\n"
                            "printf partial > \"$out.part\"\n"
                            "if [ '%1' = fails ]; then printf '%3' >&2; exit 1; fi\n"
                            "if [ \"$track\" = '%1' ]; then echo $$ > '%2'; exec sleep 30; fi\n"
                            "echo 'tovrin:10|10|NA'; mv \"$out.part\" \"$out\"")
                        .arg(stage, pid, diagnostic));
        QFile(QDir(s.locations.downloadsFolder).filePath("video [media].mp4"))
            .open(QIODevice::WriteOnly);
        s.model->analysis().setLink("https://vimeo.com/1");
        const VideoQuality video = mp4VideoTrack("v1", 720, "avc1");
        s.model->startMergedDownload(video, "a1");
        QPointer<VideoDownloadJob> job = s.model->queue().state().jobs.first();
        QCOMPARE(QFileInfo(job->outputPath()).fileName(), "video [media] (2).mp4");
        std::optional<QString> error;
        connect(job, &VideoDownloadJob::finished, this,
                [&](VideoDownloadJob *j) { error = j->errorMessage(); });
        if (stage == "merge") {
            QTRY_COMPARE_WITH_TIMEOUT(job->status(), "Объединяю видео и звук…", 10000);
            QCOMPARE(job->detail(), "MP4 · H.264 · без перекодирования");
            QTRY_VERIFY_WITH_TIMEOUT(VideoScene::processAlive(pid + "-merge"), 10000);
        } else if (stage == "video") {
            QTRY_VERIFY_WITH_TIMEOUT(VideoScene::processAlive(pid), 10000);
            QCOMPARE(job->status(), "Скачиваю видеодорожку…");
        }
        if (stage != "fails") {
            s.model->queue().cancelOrRemove(job);
            QCOMPARE(job->status(), "Отменяю…");
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.model->history().items().size(), 1, 15000);
        if (stage == "fails") {
            QCOMPARE(error, std::optional(DownloadFailure::explanation(diagnostic)));
            QCOMPARE(newest(s).result, DownloadHistoryItem::Result::Failed);
            QCOMPARE(newest(s).message, "Не удалось скачать файл");
        } else {
            QCOMPARE(error, std::nullopt);
            QCOMPARE(newest(s).result, DownloadHistoryItem::Result::Canceled);
            QCOMPARE(newest(s).message, "Загрузка отменена");
        }
        QVERIFY(!VideoScene::processAlive(pid));
        QVERIFY(!VideoScene::processAlive(pid + "-merge"));
        QCOMPARE(s.downloadsEntries(), QStringList({"video [media].mp4"}));
        QCOMPARE(s.tempEntries(), QStringList());
        QVERIFY(!s.model->isBusy());
    }

    // Five jobs for one video: three run, oldest first, and show the engine's progress; a queued
    // one leaves at once, a running one that ends makes room. The files land beside an existing
    // one without replacing anything, and nothing is left in the work folder.
    void queueRunsThreeOldestFirst()
    {
        VideoScene s;
        QDir downloads(s.locations.downloadsFolder);
        QFile existing(downloads.filePath("Clip [abc].mp4"));
        QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("mine") == 4);
        existing.close();
        const QString go = s.dir.filePath("go");
        // The progress line arrives in two writes; the refresh shows it before the end.
        s.setEngine(QString("printf 'tov'; sleep 0.3; printf 'rin:50|100|NA\\n'\n"
                            "echo 'tovrin:NA|NA|NA' >&2\n"
                            "while [ ! -f '%1' ]; do sleep 0.05; done\n")
                        .arg(go)
                    + writeOutput("0123456789") + "printf 'tovrin:100|100|NA'\n");
        QSignalSpy busy(s.model.get(), &DownloadModel::busyChanged);
        for (int i = 1; i <= 5; ++i)
            startDirect(s, QString("https://vimeo.com/%1").arg(i));
        QCOMPARE(s.model->analysis().state().status, "Добавлено в загрузки");
        QCOMPARE(s.model->queue().state().running, 3);
        QCOMPARE(s.model->queue().state().queued, 2);
        QCOMPARE(s.model->queue().state().jobs.size(), 5);
        QVERIFY(s.model->isBusy());
        QCOMPARE(busy.size(), 1);
        const QList<VideoDownloadJob *> jobs = s.model->queue().state().jobs; // newest first
        QPointer<VideoDownloadJob> oldest = jobs.at(4);
        QCOMPARE(oldest->input(), "https://vimeo.com/1");
        QCOMPARE(oldest->title(), "Видео из публикации");
        QCOMPARE(jobs.at(0)->phase(), VideoJobPhase::Queued);
        QCOMPARE(jobs.at(1)->phase(), VideoJobPhase::Queued);
        QTRY_COMPARE_WITH_TIMEOUT(oldest->status(), "Загружаю… 50%", 10000);
        QCOMPARE(oldest->progress(), 0.5);
        QVERIFY2(oldest->detail().startsWith("Скачано 50 Б из 100 Б · "),
                 qPrintable(oldest->detail()));

        // A queued job leaves at once and takes no slot.
        s.model->queue().cancelOrRemove(jobs.at(0));
        QCOMPARE(s.model->history().items().size(), 1);
        QCOMPARE(newest(s).message, "Убрано из очереди");
        QCOMPARE(newest(s).result, DownloadHistoryItem::Result::Canceled);
        QCOMPARE(s.model->queue().state().running, 3);
        QCOMPARE(s.model->queue().state().queued, 1);
        // When a running one ends, the one waiting starts.
        s.model->queue().cancelOrRemove(jobs.at(3));
        QTRY_COMPARE_WITH_TIMEOUT(s.model->queue().state().queued, 0, 10000);
        QCOMPARE(s.model->queue().state().running, 3);
        QCOMPARE(jobs.at(1)->phase(), VideoJobPhase::Running);

        QStringList ended; // phase, status, progress at the finish
        connect(oldest.data(), &VideoDownloadJob::finished, this, [&](VideoDownloadJob *j) {
            ended << QString::number(int(j->phase())) << j->status()
                  << QString::number(j->progress());
        });
        QFile(go).open(QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(s.model->queue().state().jobs.size(), 0, 15000);
        QVERIFY(!oldest); // the queue lets go of it
        QCOMPARE(ended, QStringList({QString::number(int(VideoJobPhase::Completed)),
                                     "Готово — файл в выбранной папке", "1"}));
        QCOMPARE(s.model->history().items().size(), 5);
        QCOMPARE(newest(s).result, DownloadHistoryItem::Result::Completed);
        QCOMPARE(newest(s).message, "Готово — файл в выбранной папке");
        QCOMPARE(QFileInfo(newest(s).path).size(), 10);
        QCOMPARE(s.downloadsEntries(), QStringList({"Clip [abc] (2).mp4", "Clip [abc] (3).mp4",
                                                    "Clip [abc] (4).mp4", "Clip [abc].mp4"}));
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("mine"));
        QCOMPARE(s.tempEntries(), QStringList());
        QVERIFY(!s.model->isBusy());
        QCOMPARE(busy.size(), 2);
    }
};

TOVRIN_TEST(TestVideoJobs);
#include "test_video_jobs.moc"
