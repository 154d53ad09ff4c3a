#include "app/background_work.h"
#include "app/job.h"
#include "support/test_main.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>

namespace {

// A job whose work is a loop of steps on a worker thread: each step waits 2 ms on the stop
// token (a stopped body returns a failure, as real work does), is counted, reports its count
// from the owner's thread, and is held while paused. A step can be scripted to fail; finish()
// is always called twice.
class StepJob : public Job {
public:
    int steps = 10;
    int failAt = -1;
    bool pausable = true;
    std::atomic<int> done{0};
    std::atomic<bool> paused{false};
    bool reportedElsewhere = false;

    bool canPause() const override { return pausable; }

protected:
    void run() override
    {
        m_work.start(
            [this](const CancelToken &token) {
                for (int i = 0; i < steps; ++i) {
                    while (paused && !token.isCancelled())
                        token.sleepFor(0.005);
                    if (!token.sleepFor(0.002))
                        return JobResult::failed("stopped halfway");
                    m_work.post([this, count = ++done] {
                        reportedElsewhere |= QThread::currentThread() != thread();
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
    // However a job is driven, finished() comes exactly once, with the outcome and message the
    // contract gives; a cancel never ends as a failure, even when the stopped work reports one.
    void endsExactlyOnce_data()
    {
        QTest::addColumn<QStringList>("drive"); // what the owner does once work has begun
        QTest::addColumn<int>("failAt");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("message");
        const QString stopped = "stopped by the user";
        QTest::newRow("runs to the end")
            << QStringList() << -1 << Outcome::Succeeded << "all steps";
        QTest::newRow("a step fails") << QStringList() << 3 << Outcome::Failed << "step failed";
        QTest::newRow("cancelled while running")
            << QStringList{"cancel", "cancel"} << -1 << Outcome::Cancelled << stopped;
        QTest::newRow("cancelled while paused")
            << QStringList{"pause", "cancel"} << -1 << Outcome::Cancelled << stopped;
        QTest::newRow("cancelled before it starts")
            << QStringList{"cancel first"} << -1 << Outcome::Cancelled << stopped;
    }

    void endsExactlyOnce()
    {
        QFETCH(QStringList, drive);
        QFETCH(int, failAt);
        StepJob job;
        job.steps = drive.isEmpty() ? 10 : 1000;
        job.failAt = failAt;
        QSignalSpy finished(&job, &Job::finished);
        const bool beforeStart = drive == QStringList{"cancel first"};
        if (beforeStart)
            job.cancel();
        job.start();
        QCOMPARE(finished.size(), beforeStart ? 1 : 0); // else the work begins on the next turn
        for (const QString &step : beforeStart ? QStringList() : drive) {
            QTRY_VERIFY(job.done > 0);
            step == "pause" ? job.pause() : job.cancel();
        }
        QTRY_VERIFY(job.isFinished());
        QTest::qWait(20);
        QCOMPARE(finished.size(), 1);
        const auto result = finished.first().first().value<JobResult>();
        QTEST(result.outcome, "outcome");
        QTEST(result.message, "message");
        QCOMPARE(job.result()->message, result.message);
        QVERIFY(!job.reportedElsewhere);
        if (result.outcome == Outcome::Succeeded)
            QCOMPARE(job.progress().doneBytes, 10); // every report, in order, before the end
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
