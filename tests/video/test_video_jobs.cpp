#include "app/platform/preference_keys.h"
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

    static DownloadHistoryItem newest(const VideoScene &s) { return s.model->history().first(); }

    static void startDirect(VideoScene &s, const QString &link = "https://vimeo.com/1")
    {
        s.model->setUrl(link);
        s.model->startDownload("best", false);
    }

private slots:
    void directJobShowsProgressAndKeepsExistingFiles()
    {
        VideoScene s;
        QFile existing(QDir(s.locations.downloadsFolder).filePath("Clip [abc].mp4"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("mine");
        existing.close();
        // The progress line arrives in two writes; the refresh shows it before the end.
        s.setEngine("printf 'tov'; sleep 0.3; printf 'rin:50|100|NA\\n'\n"
                    "echo 'tovrin:NA|NA|NA' >&2\n"
                    "sleep 1.5\n"
                    + writeOutput("0123456789") + "printf 'tovrin:100|100|NA'\n");
        startDirect(s);
        QCOMPARE(s.model->jobs().size(), 1);
        QPointer<VideoDownloadJob> job = s.model->jobs().first();
        QCOMPARE(job->title(), "Видео из публикации");
        QCOMPARE(job->phase(), VideoJobPhase::Running);
        QCOMPARE(s.model->status(), "Добавлено в загрузки");
        QTRY_COMPARE_WITH_TIMEOUT(job->status(), "Загружаю… 50%", 10000);
        QCOMPARE(job->progress(), 0.5);
        QVERIFY2(job->detail().startsWith("Скачано 50 Б из 100 Б · "), qPrintable(job->detail()));

        QStringList ended; // phase, status, progress, output path at the finish
        int finishedCount = 0;
        connect(job.data(), &VideoDownloadJob::finished, this, [&](VideoDownloadJob *j) {
            ++finishedCount;
            ended = {QString::number(int(j->phase())), j->status(), QString::number(j->progress()),
                     j->outputPath()};
        });
        QTRY_VERIFY_WITH_TIMEOUT(!job, 10000); // the queue lets go of it
        const QString produced = QDir(s.locations.downloadsFolder).filePath("Clip [abc] (2).mp4");
        QCOMPARE(finishedCount, 1);
        QCOMPARE(ended, QStringList({QString::number(int(VideoJobPhase::Completed)),
                                     "Готово — файл в выбранной папке", "1", produced}));
        QCOMPARE(s.model->jobs().size(), 0);
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("mine"));
        QCOMPARE(QFileInfo(produced).size(), 10);
        QCOMPARE(newest(s).result, DownloadHistoryItem::Result::Completed);
        QCOMPARE(newest(s).path, produced);
        QCOMPARE(newest(s).message, "Готово — файл в выбранной папке");
        QCOMPARE(s.tempEntries(), QStringList());
        const QString call = s.engineCalls().last();
        QVERIFY(call.contains("--no-overwrites --progress-delta 0.5 --progress-template "
                              "download:tovrin:"));
        QVERIFY(call.endsWith("%(title).150B [%(id).64B].%(ext)s https://vimeo.com/1"));
    }

    // The mapping itself is tested with DownloadFailure; here the engine's last words reach the
    // job's row, and the history gets the short text.
    void failuresBecomeExplanations_data()
    {
        QTest::addColumn<QString>("diagnostic");
        QTest::newRow("drm") << "ERROR: This video is DRM protected";
        QTest::newRow("silent") << "";
    }
    void failuresBecomeExplanations()
    {
        QFETCH(QString, diagnostic);
        VideoScene s;
        s.setEngine(QString("echo 'tovrin:5|10|NA'; printf '%1' >&2; exit 1").arg(diagnostic));
        startDirect(s);
        std::optional<QString> error;
        connect(s.model->jobs().first(), &VideoDownloadJob::finished, this,
                [&](VideoDownloadJob *j) { error = j->errorMessage(); });
        QTRY_VERIFY_WITH_TIMEOUT(error && s.model->history().size() == 1, 10000);
        QCOMPARE(*error, DownloadFailure::explanation(diagnostic));
        QCOMPARE(newest(s).result, DownloadHistoryItem::Result::Failed);
        QCOMPARE(newest(s).message, "Не удалось скачать файл");
        QCOMPARE(s.model->jobs().size(), 0);
        QCOMPARE(s.tempEntries(), QStringList());
    }

    void cancelsAtEveryStage_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("starting") << "starting";
        QTest::newRow("video track") << "video";
        QTest::newRow("sound track") << "audio";
        QTest::newRow("merge") << "merge";
    }
    void cancelsAtEveryStage()
    {
        QFETCH(QString, stage);
        VideoScene probe;
        const QString ffmpeg = probe.dir.filePath("ffmpeg");
        const QString pid = probe.dir.filePath("pid");
        // FFmpeg takes a while and then writes its output (the last argument).
        VideoScene::writeScript(ffmpeg, QString("#!/bin/sh\necho $$ > '%1'\nsleep 1.5\n"
                                                "for last; do :; done; printf merged > \"$last\"\n")
                                            .arg(pid + "-merge"));
        VideoScene s({ffmpeg});
        s.setEngine(QString("case \"$out\" in\n"
                            "  */video.mp4) track=video;; *) track=audio;;\n"
                            "esac\n"
                            "printf partial > \"$out.part\"\n"
                            "if [ \"$track\" = '%1' ]; then echo $$ > '%2'; exec sleep 30; fi\n"
                            "echo 'tovrin:10|10|NA'; mv \"$out.part\" \"$out\"")
                        .arg(stage, pid));
        s.model->setUrl("https://vimeo.com/1");
        VideoQuality video;
        video.formatID = "v1";
        video.ext = "mp4";
        video.height = 720;
        video.videoCodec = "avc1";
        video.audioCodec = "none";
        s.model->startMergedDownload(video, "a1");
        QPointer<VideoDownloadJob> job = s.model->jobs().first();
        QCOMPARE(QFileInfo(job->outputPath()).fileName(), "video [media].mp4");
        if (stage == "merge") {
            QTRY_COMPARE_WITH_TIMEOUT(job->status(), "Объединяю видео и звук…", 10000);
            QCOMPARE(job->detail(), "MP4 · H.264 · без перекодирования");
            QTRY_VERIFY_WITH_TIMEOUT(VideoScene::processAlive(pid + "-merge"), 10000);
        } else if (stage != "starting") {
            QTRY_VERIFY_WITH_TIMEOUT(VideoScene::processAlive(pid), 10000);
            QCOMPARE(job->status(),
                     stage == "video" ? "Скачиваю видеодорожку…" : "Скачиваю звуковую дорожку…");
        }
        s.model->cancelOrRemove(job);
        QCOMPARE(job->status(), "Отменяю…");
        QTRY_COMPARE_WITH_TIMEOUT(s.model->history().size(), 1, 15000);
        QCOMPARE(newest(s).result, DownloadHistoryItem::Result::Canceled);
        QCOMPARE(newest(s).message, "Загрузка отменена");
        QVERIFY(!VideoScene::processAlive(pid));
        QVERIFY(!VideoScene::processAlive(pid + "-merge"));
        QCOMPARE(s.downloadsEntries(), QStringList());
        QCOMPARE(s.tempEntries(), QStringList());
        QVERIFY(!s.model->isBusy());
    }

    void runsThreeJobsOldestFirst()
    {
        VideoScene s;
        const QString go = s.dir.filePath("go");
        s.setEngine(QString("while [ ! -f '%1' ]; do sleep 0.05; done\n").arg(go) + writeOutput());
        QSignalSpy busy(s.model.get(), &DownloadModel::busyChanged);
        for (int i = 1; i <= 5; ++i)
            startDirect(s, QString("https://vimeo.com/%1").arg(i));
        QCOMPARE(s.model->runningJobCount(), 3);
        QCOMPARE(s.model->queuedJobCount(), 2);
        QCOMPARE(s.model->visibleJobs().size(), 5);
        QVERIFY(s.model->isBusy());
        QCOMPARE(busy.size(), 1);
        const QList<VideoDownloadJob *> jobs = s.model->jobs(); // newest first
        QCOMPARE(jobs.at(4)->input(), "https://vimeo.com/1");
        QCOMPARE(jobs.at(0)->phase(), VideoJobPhase::Queued);
        QCOMPARE(jobs.at(1)->phase(), VideoJobPhase::Queued);

        // A queued job leaves at once and takes no slot.
        s.model->cancelOrRemove(jobs.at(0));
        QCOMPARE(s.model->history().size(), 1);
        QCOMPARE(newest(s).message, "Убрано из очереди");
        QCOMPARE(newest(s).result, DownloadHistoryItem::Result::Canceled);
        QCOMPARE(s.model->runningJobCount(), 3);
        QCOMPARE(s.model->queuedJobCount(), 1);

        // When a running one ends, the oldest waiting one starts.
        s.model->cancelOrRemove(jobs.at(4));
        QTRY_COMPARE_WITH_TIMEOUT(s.model->queuedJobCount(), 0, 10000);
        QCOMPARE(s.model->runningJobCount(), 3);
        QCOMPARE(s.model->jobs().last()->input(), "https://vimeo.com/2");
        QCOMPARE(jobs.at(1)->phase(), VideoJobPhase::Running);

        QFile(go).open(QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(s.model->jobs().size(), 0, 15000);
        QCOMPARE(s.model->history().size(), 5);
        QVERIFY(!s.model->isBusy());
        QCOMPARE(busy.size(), 2);
        // Three jobs for the same video produced three files, none overwritten.
        QCOMPARE(s.downloadsEntries(),
                 QStringList({"Clip [abc] (2).mp4", "Clip [abc] (3).mp4", "Clip [abc].mp4"}));
    }

    void keepsAtMostAHundredHistoryRecords()
    {
        VideoScene s;
        QList<DownloadHistoryItem> items;
        for (int i = 0; i < 100; ++i) {
            items.append({QUuid::createUuid(), QString("old %1").arg(i), "/nowhere",
                          QDateTime::currentDateTimeUtc(), DownloadHistoryItem::Result::Completed,
                          "Готово"});
        }
        s.prefs.setValue(QString(PreferenceKeys::kVideoHistory), encodeHistory(items));
        s.model = std::make_unique<DownloadModel>(
            DownloadModel::Services{s.prefs, s.clock, s.locations, s.desktop, *s.engine},
            DownloadModelOptions{{"/usr/bin/ffmpeg"}, {}, nullptr, 100});
        QCOMPARE(s.model->history().size(), 100);
        s.setEngine("exit 1");
        startDirect(s);
        QTRY_COMPARE_WITH_TIMEOUT(s.model->history().first().result,
                                  DownloadHistoryItem::Result::Failed, 10000);
        QCOMPARE(s.model->history().size(), 100);
        QCOMPARE(s.model->history().last().name, "old 98");
        QCOMPARE(decodeHistory(s.prefs.value(QString(PreferenceKeys::kVideoHistory))->toByteArray())
                     ->size(),
                 100);

        s.model->removeHistoryItem(s.model->history().first());
        QCOMPARE(s.model->history().first().name, "old 0");
        s.model->revealHistoryItem(s.model->history().first());
        QCOMPARE(s.desktop.opened, QStringList({"/"}));
        s.model->clearHistory();
        QVERIFY(!s.prefs.contains(QString(PreferenceKeys::kVideoHistory)));
    }

    void mergedNamesNeverCollide()
    {
        VideoScene s;
        const QString gate = s.dir.filePath("go");
        s.setEngine(QString("while [ ! -f '%1' ]; do sleep 0.05; done; exit 1").arg(gate));
        QDir downloads(s.locations.downloadsFolder);
        QFile(downloads.filePath("video [media].mp4")).open(QIODevice::WriteOnly);
        VideoQuality video;
        video.formatID = "v1";
        video.ext = "webm";
        video.videoCodec = "vp9";
        for (int i = 0; i < 2; ++i) {
            s.model->setUrl("https://vimeo.com/1");
            s.model->startMergedDownload(video, "a1");
        }
        QCOMPARE(QFileInfo(s.model->jobs().at(1)->outputPath()).fileName(),
                 "video [media] (2).mp4");
        QCOMPARE(QFileInfo(s.model->jobs().at(0)->outputPath()).fileName(),
                 "video [media] (3).mp4");
        QFile(gate).open(QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(s.model->jobs().size(), 0, 10000);
        // Failed merges delete nothing that was already there.
        QCOMPARE(s.downloadsEntries(), QStringList({"video [media].mp4"}));
    }

    void choosesAndOpensTheFolder()
    {
        VideoScene s;
        QCOMPARE(s.model->folder(), s.locations.downloadsFolder);
        s.desktop.chosen = s.dir.filePath("elsewhere");
        s.model->chooseFolder();
        QCOMPARE(s.desktop.chooserCalls.first(),
                 QStringList({"Куда скачивать", "Выбрать", s.locations.downloadsFolder}));
        QCOMPARE(s.model->folder(), s.dir.filePath("elsewhere"));
        s.model->revealFolder();
        QCOMPARE(s.desktop.opened, QStringList({s.dir.filePath("elsewhere")}));
    }
};

TOVRIN_TEST(TestVideoJobs);
#include "test_video_jobs.moc"
