#include "support/test_main.h"
#include "video_scene.h"

// The queue beyond what the job tests show (limit, order, history per end): names of merged
// files that jobs have not produced yet.
class TestDownloadQueue : public QObject {
    Q_OBJECT

private slots:
    // Merged jobs for one video: a name that a queued or running job will produce is taken,
    // and free again once that job has ended.
    void mergedNamesHeldByUnfinishedJobs()
    {
        VideoScene s;
        s.setEngine("exec sleep 30");
        DownloadQueue &queue = s.model->queue();
        const auto queueOne = [&] {
            s.model->analysis().setLink("https://vimeo.com/1");
            s.model->startMergedDownload(mp4VideoTrack("v1", 720, "avc1"), "a1");
            return QFileInfo(queue.state().jobs.first()->outputPath()).fileName();
        };
        QStringList names;
        for (int i = 0; i < 4; ++i)
            names << queueOne();
        QCOMPARE(names, QStringList({"video [media].mp4", "video [media] (2).mp4",
                                     "video [media] (3).mp4", "video [media] (4).mp4"}));
        QCOMPARE(queue.state().queued, 1);
        QCOMPARE(s.downloadsEntries(), QStringList());

        const QList<VideoDownloadJob *> jobs = queue.state().jobs;
        for (VideoDownloadJob *job : jobs)
            queue.cancelOrRemove(job);
        QTRY_VERIFY_WITH_TIMEOUT(!queue.hasUnfinishedJobs(), 10000);
        QCOMPARE(queueOne(), "video [media].mp4");
    }
};

TOVRIN_TEST(TestDownloadQueue);
#include "test_download_queue.moc"
