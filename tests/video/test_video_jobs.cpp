#include "support/test_main.h"
#include "video/download_failure.h"
#include "video_scene.h"

#include <QSignalSpy>

#include <sys/stat.h>

namespace {

const QString kDrm = "ERROR: This video is DRM protected";
const QString kMine = "Clip [abc].mp4";

// One VideoDownloadJob over stand-in engine and FFmpeg scripts (none when the body is empty),
// with a file named as the job's result already in the chosen folder.
struct JobScene {
    QTemporaryDir dir;
    QString downloads;
    std::unique_ptr<VideoDownloadJob> job;
    QStringList lines; // each status line the row showed, in order
    int ends = 0;
    std::function<void(bool holdingLock)> beforeFinalRename; // on the worker

    JobScene(bool merged, const QString &engine, const QString &ffmpeg, QString folder = {})
        : downloads(folder.isEmpty() ? dir.filePath("downloads") : folder)
    {
        QDir().mkpath(downloads);
        QFile mine(QDir(downloads).filePath(kMine));
        QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
        for (const auto &[name, body] : {std::pair{"engine", engine}, {"ffmpeg", ffmpeg}}) {
            if (!body.isEmpty())
                VideoScene::writeScript(dir.filePath(name), standInShell(dir.path()) + body);
        }
        VideoDownloadJob::Description description;
        description.folder = description.outputPath = downloads;
        if (merged) {
            description.outputPath = QDir(downloads).filePath(kMine);
            description.plan = VideoJobPlan::merged(mp4VideoTrack(), "a1", description.outputPath);
        }
        VideoJobEnvironment environment;
        environment.refreshIntervalMs = 100;
        environment.beforeFinalRename = [this](bool holding) {
            if (beforeFinalRename)
                beforeFinalRename(holding);
        };
        // The first FFmpeg candidate is not a program and is passed over.
        QFile(dir.filePath("plain")).open(QIODevice::WriteOnly);
        environment.ffmpegCandidates = {dir.filePath("plain"), dir.filePath("ffmpeg")};
        job = std::make_unique<VideoDownloadJob>(description, environment);
        job->setEngineExecutable(dir.filePath("engine"));
        lines = {job->statusText()};
        QObject::connect(job.get(), &VideoDownloadJob::videoStateChanged, job.get(),
                         [this](const VideoJobState &state) {
                             if (lines.last() != videoJobStatus(state))
                                 lines << videoJobStatus(state);
                         });
        QObject::connect(job.get(), &Job::finished, job.get(), [this] { ++ends; });
    }

    void release() const { QFile(dir.filePath("go")).open(QIODevice::WriteOnly); }
    bool holding() const { return VideoScene::processAlive(dir.filePath("held")); }
};

} // namespace

class TestVideoJobs : public QObject {
    Q_OBJECT

private slots:
    // Every way a job fails or is cancelled: the lines its row showed, its failure (if any);
    // the file already in the chosen folder is untouched and nothing else is left there or in
    // the temporary folder. A cancel comes before the start (at Queued) or once the job shows
    // `cancelAt` and, with `held`, a stand-in blocks; a merge under way is let finish.
    void endsEachWay_data()
    {
        QTest::addColumn<bool>("merged");
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("ffmpeg");
        QTest::addColumn<VideoJobStage>("cancelAt"); // Ended: never cancelled
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<QString>("failure"); // empty: cancelled, which is no failure
        using Stage = VideoJobStage;
        const QString none;
        const QString start = "В очереди / Подготавливаю загрузку… / ";
        const QString tracks = start
                               + "Скачиваю видеодорожку… / Скачиваю звуковую дорожку… / "
                                 "Объединяю видео и звук… / ";
        const QString cancelled = "Отменяю… / Загрузка отменена";
        const QString notMerged = tracks + "Не удалось объединить видео и звук";
        const QString merge = "printf merged > \"$last\"";
        const QString place = "place";
        QTest::newRow("direct, the engine fails")
            << false << "printf part > \"$out.part\"; echo '" + kDrm + "' >&2; exit 1" << none
            << Stage::Ended << false << start + "Не удалось скачать файл"
            << DownloadFailure::explanation(kDrm);
        QTest::newRow("direct, the disk is full")
            << false
            << "echo 'ERROR: unable to write data: [Errno 28] No space left on device' >&2;"
               " exit 1"
            << none << Stage::Ended << false << start + "Не удалось скачать файл"
            << "На диске закончилось место";
        QTest::newRow("direct, the engine wrote nothing")
            << false << "exit 0" << none << Stage::Ended << false
            << start + "Не удалось скачать файл" << DownloadFailure::explanation(none);
        QTest::newRow("direct, no engine")
            << false << none << none << Stage::Ended << false << start + "Ошибка запуска"
            << "Не удалось запустить программу «engine»: файл не найден.";
        QTest::newRow("merged, no FFmpeg") << true << place << none << Stage::Ended << false
                                           << notMerged << "Не найден встроенный FFmpeg";
        QTest::newRow("merged, FFmpeg fails into MP4 and MKV")
            << true << place << "echo 'Invalid data' >&2; exit 1" << Stage::Ended << false
            << notMerged << "Invalid data";
        QTest::newRow("merged, FFmpeg finds the disk full")
            << true << place << "echo 'Error writing trailer: No space left on device' >&2; exit 1"
            << Stage::Ended << false << notMerged << "На диске закончилось место";
        QTest::newRow("cancelled in the queue") << false << place << none << Stage::Queued << false
                                                << "В очереди / Убрано из очереди" << none;
        QTest::newRow("cancelled at the start")
            << false << "hold; place" << none << Stage::Preparing << false << start + cancelled
            << none;
        QTest::newRow("cancelled as the engine starts")
            << false << "hold; place" << none << Stage::Downloading << false << start + cancelled
            << none;
        QTest::newRow("cancelled during the video track")
            << true << "case \"$out\" in */video.*) hold;; esac; place" << merge
            << Stage::VideoTrack << true << start + "Скачиваю видеодорожку… / " + cancelled << none;
        QTest::newRow("cancelled during the merge")
            << true << place << "hold; " + merge << Stage::Merging << true << tracks + cancelled
            << none;
    }
    void endsEachWay()
    {
        QFETCH(bool, merged);
        QFETCH(QString, engine);
        QFETCH(QString, ffmpeg);
        QFETCH(VideoJobStage, cancelAt);
        QFETCH(bool, held);
        JobScene s(merged, engine, ffmpeg);
        if (cancelAt != VideoJobStage::Queued)
            s.job->start();
        if (cancelAt != VideoJobStage::Ended) {
            QTRY_VERIFY_WITH_TIMEOUT(
                s.job->videoState().stage == cancelAt && (!held || s.holding()), 10000);
            s.job->cancel();
            // Lets FFmpeg go on; an engine that the cancel did not stop would hold the job.
            s.release();
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.ends, 1, 15000);
        QTEST(s.lines.join(" / "), "lines");
        QFETCH(QString, failure);
        QCOMPARE(s.job->errorMessage(), failure);
        QCOMPARE(s.job->phase(),
                 failure.isEmpty() ? VideoJobPhase::Canceled : VideoJobPhase::Failed);
        QCOMPARE(VideoScene::entries(s.downloads), QStringList{kMine});
        QFile mine(QDir(s.downloads).filePath(kMine));
        QVERIFY(mine.open(QIODevice::ReadOnly) && mine.readAll() == "mine");
        QCOMPARE(QFile::exists(s.dir.filePath("released")), cancelAt == VideoJobStage::Merging);
        QVERIFY(!s.holding());
    }

    // Going away while FFmpeg runs, a job stops it and removes its work folder before its
    // destructor returns (an engine run is stopped the same way); it reports no end.
    void destroyingARunningJobStopsEverything()
    {
        JobScene s(true, "place", "hold");
        s.job->start();
        QTRY_VERIFY_WITH_TIMEOUT(s.holding(), 10000);
        QCOMPARE(VideoScene::entries(s.downloads).size(), 2);
        s.job.reset();
        QVERIFY(!s.holding());
        QCOMPARE(VideoScene::entries(s.downloads), QStringList{kMine});
        QCOMPARE(s.ends, 0);
    }

    // The engine works in a locked folder inside the chosen one (here on a RAM disk, not on the
    // temporary folder's file system): the finished file is the very file it wrote, renamed.
    void finishedFileIsRenamedIntoPlace()
    {
        QTemporaryDir ramDisk("/dev/shm/tovrin-test-XXXXXX");
        if (!ramDisk.isValid())
            QSKIP("no /dev/shm");
        JobScene s(false,
                   QString("flock -n .tovrin-lock true || pwd > '%1/pwd'; hold; place; "
                           "stat -c %i \"$(dirname \"$out\")\"/*.mp4 > '%1/inode'")
                       .arg(ramDisk.path()),
                   {}, ramDisk.filePath("downloads"));
        s.job->start();
        QTRY_VERIFY_WITH_TIMEOUT(s.holding(), 10000);
        s.release();
        const QString final = QDir(s.downloads).filePath("Clip [abc] (2).mp4");
        QTRY_COMPARE_WITH_TIMEOUT(s.ends, 1, 15000);
        QCOMPARE(s.job->phase(), VideoJobPhase::Completed);
        QCOMPARE(s.job->outputPath(), final);
        QCOMPARE(VideoScene::entries(s.downloads), QStringList({final.section('/', -1), kMine}));
        QFile inode(ramDisk.filePath("inode")), pwd(ramDisk.filePath("pwd"));
        QVERIFY(inode.open(QIODevice::ReadOnly) && pwd.open(QIODevice::ReadOnly));
        struct stat placed = {};
        QVERIFY(::stat(QFile::encodeName(final).constData(), &placed) == 0);
        QCOMPARE(inode.readAll().trimmed().toULongLong(), quint64(placed.st_ino));
        QVERIFY(pwd.readAll().startsWith(QFile::encodeName(s.downloads + "/.tovrin-")));
    }

    // A cancel is honoured until the file has its final name, and cancel() returns only once
    // that is settled: one that comes before the rename ends the job Cancelled with nothing
    // left; one that comes while the rename runs waits for it and finds the job done.
    void cancelRacesTheFinalRename_data()
    {
        QTest::addColumn<bool>("duringRename"); // also: the file is placed and the job done
        QTest::newRow("before the rename") << false;
        QTest::newRow("during the rename") << true;
    }
    void cancelRacesTheFinalRename()
    {
        QFETCH(bool, duringRename);
        JobScene s(false, "place", {});
        const QString final = QDir(s.downloads).filePath("Clip [abc] (2).mp4");
        CancelToken cancelReturned; // a signal from the UI thread, not a stop
        bool placedWhenReturned = false;
        s.beforeFinalRename = [&](bool holdingLock) {
            if (holdingLock != duringRename)
                return;
            QMetaObject::invokeMethod(
                s.job.get(),
                [&] {
                    s.job->cancel();
                    placedWhenReturned = QFile::exists(final);
                    cancelReturned.cancel();
                },
                Qt::QueuedConnection);
            // While the rename holds its lock the cancel cannot return: the wait runs out.
            cancelReturned.sleepFor(duringRename ? 1 : 10);
        };
        s.job->start();
        QTRY_COMPARE_WITH_TIMEOUT(s.ends, 1, 15000);
        QCOMPARE(placedWhenReturned, duringRename);
        QCOMPARE(s.job->phase(), duringRename ? VideoJobPhase::Completed : VideoJobPhase::Canceled);
        QCOMPARE(VideoScene::entries(s.downloads),
                 (duringRename ? QStringList{"Clip [abc] (2).mp4", kMine} : QStringList{kMine}));
    }

    // At start-up, work folders that no live job holds and half-placed files of earlier runs
    // go; a folder that a live job (here another program) holds stays, as do the user's files.
    void startUpSweepsWhatEarlierRunsLeft()
    {
        VideoScene s;
        const QDir downloads(s.locations.downloadsFolder);
        for (const char *name :
             {".tovrin-dead/.tovrin-lock", ".tovrin-dead/a.part", ".tovrin-live/.tovrin-lock",
              ".tovrin-nolock/a.part", ".tovrin-0a1b.part", "mine.part", ".hidden"}) {
            downloads.mkpath(QFileInfo(downloads.filePath(name)).path());
            QFile(downloads.filePath(name)).open(QIODevice::WriteOnly);
        }
        QProcess holder;
        holder.start("/usr/bin/flock",
                     {downloads.filePath(".tovrin-live/.tovrin-lock"), "sh", "-c",
                      "touch \"$0\"; exec sleep 30", downloads.filePath(".hidden-ready")});
        QTRY_VERIFY_WITH_TIMEOUT(downloads.exists(".hidden-ready"), 10000);
        s.startModel();
        QCOMPARE(s.downloadsEntries(),
                 QStringList({".hidden", ".hidden-ready", ".tovrin-live", "mine.part"}));
        holder.kill();
        holder.waitForFinished();
    }

    // Each stage shows its own file's progress: a line split over two writes counts once it is
    // whole, a finished file shows full at once, a last line without a line break still
    // arrives, and the next stage starts from nothing rather than from the last one's bytes.
    void showsEachStagesProgress()
    {
        JobScene s(true,
                   "case \"$out\" in */video.*) printf 'tov'; sleep 0.2; printf 'rin:50|100|NA\\n'"
                   "; hold; printf 'tovrin:100|100|NA';; *) echo 'tovrin:7|7|NA';; esac; place",
                   "printf merged > \"$last\"");
        s.job->start();
        QTRY_COMPARE_WITH_TIMEOUT(s.job->statusText(), "Загружаю… 50%", 10000);
        s.release();
        QTRY_COMPARE_WITH_TIMEOUT(s.ends, 1, 15000);
        QCOMPARE(s.lines.join(" / "),
                 "В очереди / Подготавливаю загрузку… / Скачиваю видеодорожку… / Загружаю… 50% / "
                 "Загружаю… 100% / Скачиваю звуковую дорожку… / Загружаю… 100% / "
                 "Объединяю видео и звук… / Готово — MP4 · H.264");
        QFile merged(s.job->outputPath());
        QCOMPARE(QFileInfo(merged).fileName(), "Clip [abc] (2).mp4");
        QVERIFY(merged.open(QIODevice::ReadOnly) && merged.readAll() == "merged");
    }

    // Five jobs through the queue: three run, oldest first; a queued one leaves at once and
    // takes no slot, a running one that ends makes room; each end reaches the history, and two
    // jobs finishing together beside an existing file replace nothing.
    void queueRunsThreeOldestFirst()
    {
        VideoScene s;
        QFile(QDir(s.locations.downloadsFolder).filePath(kMine)).open(QIODevice::WriteOnly);
        s.setEngine(
            QString("case \"$*\" in *vimeo.com/4*) echo '%1' >&2; exit 1;; esac\nhold; place")
                .arg(kDrm));
        QSignalSpy busy(s.model.get(), &DownloadModel::busyChanged);
        for (int i = 1; i <= 5; ++i) {
            s.model->analysis().setLink(QString("https://vimeo.com/%1").arg(i));
            s.model->startDownload("best", false, DownloadKind::Video);
        }
        QCOMPARE(s.model->queue().state().running, 3);
        const QList<VideoDownloadJob *> jobs = s.model->queue().state().jobs; // newest first
        QCOMPARE(jobs.at(1)->phase(), VideoJobPhase::Queued);
        QCOMPARE(jobs.at(4)->phase(), VideoJobPhase::Running);

        const auto ended = [&](const QStringList &messages, DownloadHistoryItem::Result last) {
            QStringList history;
            for (const DownloadHistoryItem &item : s.model->history().items())
                history << item.message;
            QCOMPARE(history, messages);
            QCOMPARE(s.model->history().items().first().result, last);
        };
        s.model->queue().cancelOrRemove(jobs.at(0));
        ended({"Убрано из очереди"}, DownloadHistoryItem::Result::Canceled);
        QCOMPARE(s.model->queue().state().running, 3);
        s.model->queue().cancelOrRemove(jobs.at(3)); // the waiting one starts and fails
        QTRY_COMPARE_WITH_TIMEOUT(s.model->history().items().size(), 3, 10000);
        ended({"Не удалось скачать файл", "Загрузка отменена", "Убрано из очереди"},
              DownloadHistoryItem::Result::Failed);
        QFile(s.dir.filePath("go")).open(QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(s.model->queue().state().jobs.size(), 0, 15000);
        QCOMPARE(s.model->history().items().size(), 5);
        QCOMPARE(s.model->history().items().first().message, "Готово — файл в выбранной папке");
        QCOMPARE(s.model->history().items().first().result, DownloadHistoryItem::Result::Completed);
        QCOMPARE(s.downloadsEntries(),
                 QStringList({"Clip [abc] (2).mp4", "Clip [abc] (3).mp4", kMine}));
        QCOMPARE(busy.size(), 2);
        QVERIFY(!s.model->isBusy());
    }

    // Quitting stops every job, a merge under way too, and says so once each has ended its
    // processes and removed its work folder; no end reaches the history.
    void stopAllWaitsForEveryJob()
    {
        VideoScene s;
        s.options.ffmpegCandidates = {s.dir.filePath("ffmpeg")};
        VideoScene::writeScript(s.dir.filePath("ffmpeg"), standInShell(s.dir.path()) + "hold");
        s.startModel();
        s.setEngine("case \"$out\" in */video.*|*/audio.*) place;; *) hold;; esac");
        s.model->analysis().setLink("https://vimeo.com/1");
        s.model->startMergedDownload(mp4VideoTrack(), "a1");
        QTRY_VERIFY_WITH_TIMEOUT(VideoScene::processAlive(s.dir.filePath("held")), 10000);
        for (int i = 0; i < 3; ++i) { // two more run and hold, one waits
            s.model->analysis().setLink("https://vimeo.com/1");
            s.model->startDownload("best", false, DownloadKind::Video);
        }
        QSignalSpy stopped(s.model.get(), &DownloadModel::stopped);
        s.model->stopAll();
        QVERIFY(stopped.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 1, 10000);
        QCOMPARE(s.downloadsEntries(), QStringList());
        QVERIFY(!VideoScene::processAlive(s.dir.filePath("held")));
        QVERIFY(s.model->history().items().isEmpty());
        QVERIFY(!QFile::exists(s.dir.filePath("released")));
    }

    // Merged jobs for one video: a name that a queued or running job will produce is taken,
    // and free again once that job has ended.
    void mergedNamesHeldByUnfinishedJobs()
    {
        VideoScene s;
        s.setEngine("exec sleep 30");
        DownloadQueue &queue = s.model->queue();
        const auto queueOne = [&] {
            s.model->analysis().setLink("https://vimeo.com/1");
            s.model->startMergedDownload(mp4VideoTrack(), "a1");
            return QFileInfo(queue.state().jobs.first()->outputPath()).fileName();
        };
        QStringList names;
        for (int i = 0; i < 4; ++i)
            names << queueOne();
        QCOMPARE(names, QStringList({"video [media].mp4", "video [media] (2).mp4",
                                     "video [media] (3).mp4", "video [media] (4).mp4"}));
        QCOMPARE(queue.state().queued, 1);
        QCOMPARE(s.downloadsEntries(), QStringList());
        const QList<VideoDownloadJob *> jobs = queue.state().jobs; // a copy: removal edits it
        for (VideoDownloadJob *job : jobs)
            queue.cancelOrRemove(job);
        QTRY_VERIFY_WITH_TIMEOUT(!queue.hasUnfinishedJobs(), 10000);
        QCOMPARE(queueOne(), "video [media].mp4");
    }
};

TOVRIN_TEST(TestVideoJobs);
#include "test_video_jobs.moc"
