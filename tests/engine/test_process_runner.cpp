#include "engine/line_splitter.h"
#include "engine/process_group_registry.h"
#include "engine/process_runner.h"
#include "support/test_main.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

class TestProcessRunner : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        file.write("#!/bin/sh\n" + body);
        file.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    struct Run {
        std::unique_ptr<ProcessRunner> runner = std::make_unique<ProcessRunner>();
        QStringList lines;
        std::unique_ptr<QSignalSpy> finished;
        Run()
        {
            finished = std::make_unique<QSignalSpy>(runner.get(), &ProcessRunner::finished);
            QObject::connect(runner.get(), &ProcessRunner::progressLine, runner.get(),
                             [this](const QString &line, double) { lines << line; });
        }
        ProcessResult result() const
        {
            return finished->isEmpty() ? ProcessResult()
                                       : finished->first().first().value<ProcessResult>();
        }
    };

    ProcessRequest request(const QString &program)
    {
        ProcessRequest r;
        r.program = program;
        return r;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<ProcessResult>();
        QVERIFY(m_dir.isValid());
    }

    void lineSplitting_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<QByteArray>("rest");
        using L = QList<QByteArray>;
        QTest::newRow("one line per chunk") << L{"a\n", "b\n"} << L{"a", "b"} << QByteArray();
        QTest::newRow("line across chunks")
            << L{"tovrin:1", "0|2", "0|NA\nx"} << L{"tovrin:10|20|NA"} << QByteArray("x");
        QTest::newRow("crlf and lone cr") << L{"a\r\nb\rc\n"} << L{"a", "b", "c"} << QByteArray();
        QTest::newRow("crlf split across chunks")
            << L{"a\r", "\nb\n"} << L{"a", "b"} << QByteArray();
        QTest::newRow("empty lines stay") << L{"\n\n"} << L{"", ""} << QByteArray();
        QTest::newRow("character split across chunks")
            << L{"\xD0", "\x96\n"} << L{"\xD0\x96"} << QByteArray();
    }

    void lineSplitting()
    {
        QFETCH(QList<QByteArray>, chunks);
        LineSplitter splitter;
        QList<QByteArray> got;
        for (const QByteArray &chunk : chunks)
            got << splitter.append(chunk);
        QTEST(got, "lines");
        QTEST(splitter.takeRemainder(), "rest");
    }

    void progressAndDiagnosticAreSeparated()
    {
        // Progress split across writes, on both streams, a character split across writes, an
        // invalid byte, and a last line without a line break.
        const QString path =
            script("mixed.sh", "printf 'noise\\ntovrin:1'; sleep 0.2; printf '0|100|NA\\n'\n"
                               "printf 'tovrin:50|100|NA\\n' >&2\n"
                               "printf 'ERROR: \\320' >&2; sleep 0.2; printf '\\226 \\377\\n' >&2\n"
                               "printf 'tovrin:100|100|NA'\n"
                               "printf 'last words' >&2\n"
                               "exit 3\n");
        Run run;
        run.runner->start(request(path));
        QTRY_COMPARE_WITH_TIMEOUT(run.finished->size(), 1, 20000);
        QCOMPARE(run.lines,
                 (QStringList{"tovrin:10|100|NA", "tovrin:50|100|NA", "tovrin:100|100|NA"}));
        const ProcessResult result = run.result();
        QVERIFY(result.launched);
        QCOMPARE(result.exitCode, 3);
        QVERIFY(!result.endedBySignal);
        QVERIFY(!result.cancelled);
        QVERIFY(!result.succeeded());
        QCOMPARE(result.diagnostic, QString::fromUtf8("ERROR: Ж \uFFFD\nlast words"));
        QVERIFY(result.standardOutput.isEmpty());
    }

    void floodedPipesDoNotBlock()
    {
        // Several megabytes on both pipes at once: a reader that drained only one pipe would
        // leave the child blocked on the other.
        const QString path =
            script("flood.sh", "yes 'a long diagnostic line that fills the pipe' | head -n "
                               "100000 >&2 &\n"
                               "head -c 3000000 /dev/zero | tr '\\0' 'x'\n"
                               "wait\necho 'ERROR: final' >&2\n");
        Run run;
        ProcessRequest r = request(path);
        r.keepStandardOutput = true;
        run.runner->start(r);
        QTRY_COMPARE_WITH_TIMEOUT(run.finished->size(), 1, 60000);
        const ProcessResult result = run.result();
        QVERIFY(result.succeeded());
        QCOMPARE(result.standardOutput.size(), 3000000);
        QVERIFY(result.diagnostic.endsWith("ERROR: final\n"));
        QVERIFY(result.diagnostic.size() <= 2 * (1 << 20));
    }

    void documentBeyondTheLimitEndsTheChild()
    {
        const QString path = script("big.sh", "head -c 200000 /dev/zero; sleep 30\n");
        Run run;
        ProcessRequest r = request(path);
        r.keepStandardOutput = true;
        r.standardOutputLimit = 100000;
        run.runner->start(r);
        QTRY_COMPARE_WITH_TIMEOUT(run.finished->size(), 1, 20000);
        QVERIFY(run.result().outputLimitExceeded);
        QVERIFY(!run.result().cancelled);
        QVERIFY(run.result().standardOutput.isEmpty());
    }

    void cancelEndsTheWholeGroup()
    {
        // The grandchild ignores SIGTERM and keeps writing; only the group's SIGKILL stops it.
        const QString ticks = m_dir.filePath("ticks.txt");
        const QString path = script(
            "family.sh", "sh -c 'trap \"\" TERM; while true; do echo tick >> \"$1\"; sleep 0.05; "
                         "done' sh \"$1\" &\n"
                         "echo 'tovrin:0|1|1'\nwait\n");
        Run run;
        ProcessRequest r = request(path);
        r.arguments = {ticks};
        run.runner->start(r);
        QTRY_COMPARE_WITH_TIMEOUT(run.lines.size(), 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(ticks).size() > 0, 20000);
        run.runner->cancel();
        QTRY_COMPARE_WITH_TIMEOUT(run.finished->size(), 1, 20000);
        const ProcessResult result = run.result();
        QVERIFY(result.cancelled);
        QVERIFY(result.endedBySignal);
        // Nothing keeps writing once the run has ended.
        QTest::qWait(300);
        const qint64 settled = QFileInfo(ticks).size();
        QTest::qWait(500);
        QCOMPARE(QFileInfo(ticks).size(), settled);
    }

    void cancelBeforeStartIsRemembered()
    {
        const QString path = script("sleepy.sh", "exec sleep 30\n");
        Run run;
        run.runner->control()->cancel();
        run.runner->start(request(path));
        QTRY_COMPARE_WITH_TIMEOUT(run.finished->size(), 1, 20000);
        QVERIFY(run.result().launched);
        QVERIFY(run.result().cancelled);
    }

    void signalNotAskedForIsNotACancel()
    {
        const QString path = script("suicide.sh", "echo 'ERROR: dying' >&2\nkill -9 $$\n");
        Run run;
        run.runner->start(request(path));
        QTRY_COMPARE_WITH_TIMEOUT(run.finished->size(), 1, 20000);
        QVERIFY(run.result().endedBySignal);
        QVERIFY(!run.result().cancelled);
        QCOMPARE(run.result().diagnostic, "ERROR: dying\n");
    }

    void launchErrors_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing")
            << "/nonexistent/yt-dlp_linux"
            << "Не удалось запустить программу «yt-dlp_linux»: файл не найден.";
        QTest::newRow("not executable")
            << "plain.txt"
            << "Не удалось запустить программу «plain.txt»: файл не является программой.";
    }

    void launchErrors()
    {
        QFETCH(QString, program);
        QFile plain(m_dir.filePath("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        if (!program.startsWith(u'/'))
            program = m_dir.filePath(program);
        Run run;
        run.runner->start(request(program));
        QVERIFY(run.finished->isEmpty()); // never from inside start()
        QTRY_COMPARE_WITH_TIMEOUT(run.finished->size(), 1, 20000);
        QVERIFY(!run.result().launched);
        QTEST(run.result().launchError, "message");
    }

    void olderEnginesAreThrottledHere_data()
    {
        QTest::addColumn<double>("interval");
        QTest::newRow("engine throttles itself") << 0.0;
        QTest::newRow("throttled here") << 0.5;
    }

    void olderEnginesAreThrottledHere()
    {
        QFETCH(double, interval);
        const QString path = script("burst.sh", "i=1; while [ $i -le 20 ]; do echo "
                                                "\"tovrin:$i|20|NA\"; i=$((i+1)); done\n");
        Run run;
        ProcessRequest r = request(path);
        r.progressIntervalSeconds = interval;
        run.runner->start(r);
        QTRY_COMPARE_WITH_TIMEOUT(run.finished->size(), 1, 20000);
        QVERIFY(!run.lines.isEmpty());
        QCOMPARE(run.lines.last(), "tovrin:20|20|NA"); // the newest line always arrives
        if (interval > 0)
            QVERIFY2(run.lines.size() <= 3, qPrintable(run.lines.join(u' ')));
        else
            QCOMPARE(run.lines.size(), 20);
    }

    void quittingEndsEveryListedGroup()
    {
        ProcessGroupRegistry groups;
        Run run;
        ProcessRequest r = request(script("listed.sh", "echo 'tovrin:1|1|1'\nexec sleep 30\n"));
        r.groups = &groups;
        run.runner->start(r);
        QTRY_COMPARE_WITH_TIMEOUT(run.lines.size(), 1, 20000);
        QCOMPARE(groups.size(), 1);
        groups.endAll();
        QTRY_COMPARE_WITH_TIMEOUT(run.finished->size(), 1, 20000);
        QVERIFY(run.result().endedBySignal);
        QCOMPARE(groups.size(), 0);
    }

    void timeoutEndsTheChild()
    {
        Run run;
        ProcessRequest r = request(script("hang.sh", "exec sleep 30\n"));
        r.timeoutSeconds = 0.3;
        run.runner->start(r);
        QTRY_COMPARE_WITH_TIMEOUT(run.finished->size(), 1, 20000);
        QVERIFY(run.result().timedOut);
        QVERIFY(!run.result().cancelled);
    }

    void blockingRunOnAWorkerThread()
    {
        const QString path = script("worker.sh", "echo 'tovrin:5|10|NA'\nexec sleep 30\n");
        ProcessResult result;
        QStringList lines;
        std::shared_ptr<ProcessControl> control;
        std::mutex mutex;
        QThread *worker = QThread::create([&] {
            ProcessRequest r;
            r.program = path;
            result = runProcessToEnd(
                r,
                [&](const std::shared_ptr<ProcessControl> &c) {
                    std::lock_guard lock(mutex);
                    control = c;
                },
                [&](const QString &line, double) {
                    std::lock_guard lock(mutex);
                    lines << line;
                });
        });
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     std::lock_guard lock(mutex);
                                     return !lines.isEmpty();
                                 }()),
                                 20000);
        {
            std::lock_guard lock(mutex);
            control->cancel(); // from another thread than the runner's
        }
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 20000);
        delete worker;
        QCOMPARE(lines, QStringList{"tovrin:5|10|NA"});
        QVERIFY(result.cancelled);
    }
};

TOVRIN_TEST(TestProcessRunner);
#include "test_process_runner.moc"
