#include "app/background_work.h"
#include "app/job.h"
#include "support/test_main.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>

namespace {

// A job whose work is a loop of steps on a worker thread: each step waits `stepMs` on the
// stop token, is counted, and is held while paused. It ends as scripted: succeeded, or failed
// when `failAt` steps are done (a failure may also arrive after a cancel).
class StepJob : public Job {
public:
    int steps = 10;
    int failAt = -1;
    int stepMs = 2;
    bool pausable = true;
    bool finishTwice = false;
    std::atomic<int> done{0};
    std::atomic<bool> paused{false};
    QList<QThread *> reportThreads;

    bool canPause() const override { return pausable; }

protected:
    void run() override
    {
        m_work.start(
            [this](const CancelToken &token) {
                for (int i = 0; i < steps; ++i) {
                    while (paused && !token.isCancelled())
                        token.sleepFor(0.005);
                    if (!token.sleepFor(stepMs / 1000.0))
                        return JobResult::failed("stopped halfway");
                    ++done;
                    m_work.post([this, count = int(done)] {
                        reportThreads.append(QThread::currentThread());
                        Progress progress;
                        progress.doneBytes = count;
                        progress.totalBytes = steps;
                        setProgress(progress);
                    });
                    if (done == failAt)
                        return JobResult::failed("step failed", ErrorKind::Network);
                }
                return JobResult::succeeded("all steps");
            },
            [this](const JobResult &result) {
                finish(result);
                if (finishTwice)
                    finish(JobResult::succeeded("again"));
            });
    }
    void onCancel() override { m_work.stop(); }
    void onPause() override { paused = true; }
    void onResume() override { paused = false; }
    QString cancelMessage() const override { return "stopped by the user"; }

private:
    BackgroundWork m_work{this};
};

} // namespace

class TestJob : public QObject {
    Q_OBJECT

private slots:
    // How each way of driving a job ends: finished exactly once, with the outcome and message
    // the contract gives; a cancel never ends as a failure (a cancelled body returns its
    // "stopped halfway" failure).
    void endsExactlyOnce_data()
    {
        QTest::addColumn<QString>("drive");
        QTest::addColumn<int>("failAt");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("message");
        QTest::newRow("runs to the end") << "" << -1 << Outcome::Succeeded << "all steps";
        QTest::newRow("a step fails") << "" << 3 << Outcome::Failed << "step failed";
        QTest::newRow("finish called twice") << "twice" << -1 << Outcome::Succeeded << "all steps";
        QTest::newRow("cancelled while running")
            << "cancel" << -1 << Outcome::Cancelled << "stopped by the user";
        QTest::newRow("cancelled while paused")
            << "pause,cancel" << -1 << Outcome::Cancelled << "stopped by the user";
        QTest::newRow("cancelled before it starts")
            << "cancel first" << -1 << Outcome::Cancelled << "stopped by the user";
        QTest::newRow("cancelled twice")
            << "cancel,cancel" << -1 << Outcome::Cancelled << "stopped by the user";
    }

    void endsExactlyOnce()
    {
        QFETCH(QString, drive);
        QFETCH(int, failAt);
        StepJob job;
        job.steps = drive.contains("cancel") ? 1000 : 10;
        job.failAt = failAt;
        job.finishTwice = drive == "twice";
        QSignalSpy finished(&job, &Job::finished);
        if (drive == "cancel first") {
            job.cancel();
            job.start();
        } else {
            job.start();
            QCOMPARE(job.state(), JobState::Running);
            QCOMPARE(finished.size(), 0); // the work begins on the next turn of the loop
            for (const QString &step : drive.split(',', Qt::SkipEmptyParts)) {
                if (step == "twice")
                    continue;
                QTRY_VERIFY(job.done > 0);
                if (step == "pause")
                    job.pause();
                else
                    job.cancel();
            }
        }
        QTRY_COMPARE(finished.size(), 1);
        QTest::qWait(20);
        QCOMPARE(finished.size(), 1);
        const auto result = finished.first().first().value<JobResult>();
        QTEST(result.outcome, "outcome");
        QTEST(result.message, "message");
        QCOMPARE(job.state(), JobState::Finished);
        QCOMPARE(job.result()->outcome, result.outcome);
    }

    // Pause holds the work and resume continues it; a job that cannot pause ignores both.
    void pauseHoldsTheWork()
    {
        StepJob job;
        job.steps = 100000;
        QSignalSpy states(&job, &Job::stateChanged);
        job.start();
        QTRY_VERIFY(job.done > 0);
        job.pause();
        QCOMPARE(job.state(), JobState::Paused);
        QTest::qWait(30);
        const int held = job.done;
        QTest::qWait(60);
        QCOMPARE(job.done, held);
        job.resume();
        QTRY_VERIFY(job.done > held);
        job.cancel();
        QTRY_VERIFY(job.isFinished());
        QCOMPARE(states.size(), 4); // running, paused, running, finished

        StepJob fixed;
        fixed.pausable = false;
        fixed.start();
        fixed.pause();
        QCOMPARE(fixed.state(), JobState::Running);
        QTRY_VERIFY(fixed.isFinished());
    }

    // Reports reach the owner on its own thread, in order; nothing arrives after the end.
    void reportsArriveInOrderOnTheOwnersThread()
    {
        StepJob job;
        QList<qint64> seen;
        connect(&job, &Job::progressChanged, this,
                [&](const Progress &progress) { seen.append(progress.doneBytes); });
        job.start();
        QTRY_VERIFY(job.isFinished());
        QTest::qWait(20);
        QCOMPARE(seen, (QList<qint64>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        for (QThread *reportedOn : std::as_const(job.reportThreads))
            QCOMPARE(reportedOn, thread());
        QCOMPARE(job.progress().fraction(), std::optional(1.0));
    }

    // A job destroyed while its work runs stops the work and waits for it; nothing it posted
    // afterwards reaches anyone.
    void destroyingAJobStopsItsWork()
    {
        auto job = std::make_unique<StepJob>();
        job->steps = 1000;
        bool finished = false;
        connect(job.get(), &Job::finished, this, [&] { finished = true; });
        job->start();
        QTRY_VERIFY(job->done > 0);
        job.reset();
        QTest::qWait(30);
        QVERIFY(!finished);
    }
};

TOVRIN_TEST(TestJob);
#include "test_job.moc"
