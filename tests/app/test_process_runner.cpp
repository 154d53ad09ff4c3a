#include "app/process/process_group_registry.h"
#include "app/process/process_runner.h"
#include "support/scripts.h"
#include "support/test_main.h"

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

// The runner on the test's thread; runs on a worker thread (runProcessToEnd) are shown by the
// video jobs and analyses that use them.
class TestProcessRunner : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString script(const QString &name, const QByteArray &body)
    {
        writeScript(m_dir.filePath(name), body);
        return m_dir.filePath(name);
    }

    struct Run {
        std::unique_ptr<ProcessRunner> runner = std::make_unique<ProcessRunner>();
        QSignalSpy finished{runner.get(), &ProcessRunner::finished};
        QStringList lines;
        Run()
        {
            QObject::connect(runner.get(), &ProcessRunner::progressLine, runner.get(),
                             [this](const QString &line, double) { lines << line; });
        }
        ProcessResult result() const
        {
            return finished.isEmpty() ? ProcessResult()
                                      : finished.first().first().value<ProcessResult>();
        }
    };

private slots:
    void initTestCase()
    {
        qRegisterMetaType<ProcessResult>();
        QVERIFY(m_dir.isValid());
    }

    void progressAndDiagnosticAreSeparated()
    {
        // Lines are cut on bytes across writes, on "\n", "\r\n" (split across writes too) and
        // a lone "\r"; progress comes on either stream; a character split across writes, an
        // invalid byte, an empty line and a last line without a break reach the diagnostic.
        const QString path =
            script("mixed.sh", "printf 'noise\\ntovrin:1'; sleep 0.2; printf '0|100|NA\\n'\n"
                               "printf 'tovrin:50|100|NA\\r\\n' >&2\n"
                               "printf 'ERROR: \\320' >&2; sleep 0.2; printf '\\226 \\377\\r' >&2\n"
                               "sleep 0.2; printf '\\n\\nwarn\\rlast words' >&2\n"
                               "printf 'tovrin:100|100|NA'\n"
                               "exit 3\n");
        Run run;
        run.runner->start(ProcessRequest{.program = path, .progressMarker = "tovrin:"});
        QTRY_COMPARE_WITH_TIMEOUT(run.finished.size(), 1, 20000);
        QCOMPARE(run.lines,
                 (QStringList{"tovrin:10|100|NA", "tovrin:50|100|NA", "tovrin:100|100|NA"}));
        const ProcessResult result = run.result();
        QCOMPARE(result.exitCode, 3);
        QVERIFY(result.launched && !result.succeeded() && !result.endedBySignal
                && !result.cancelled);
        QCOMPARE(result.diagnostic, QString::fromUtf8("ERROR: Ж \uFFFD\n\nwarn\nlast words"));
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
        run.runner->start({.program = path, .keepStandardOutput = true});
        QTRY_COMPARE_WITH_TIMEOUT(run.finished.size(), 1, 60000);
        const ProcessResult result = run.result();
        QVERIFY(result.succeeded());
        QCOMPARE(result.standardOutput.size(), 3000000);
        QVERIFY(result.diagnostic.endsWith("ERROR: final\n"));
        QVERIFY(result.diagnostic.size() <= 2 * (1 << 20));
    }

    // How a run that did not succeed ends: what the result says, and the text it carries. The
    // family's grandchild ignores SIGTERM and keeps writing; only the group's SIGKILL stops it.
    void endings_data()
    {
        QTest::addColumn<QByteArray>("body"); // "missing" and "plain": no such program, a text
        QTest::addColumn<QString>("stop");    // by the owner "before" the start, "cancel" or
                                              // "quit" (the program) once the family writes
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("text"); // the launch error, else the diagnostic
        const QByteArray family = "sh -c 'trap \"\" TERM; while true; do echo tick >> \"$1\"; "
                                  "sleep 0.05; done' sh \"$1\" &\nwait";
        const QList<std::tuple<const char *, QByteArray, QString, QString, QString>> rows{
            {"document beyond the limit", "head -c 200000 /dev/zero; sleep 30", "", "limit", ""},
            {"time-out", "exec sleep 30", "", "timeout", ""},
            {"cancel before the start is remembered", "exec sleep 30", "before", "cancelled", ""},
            {"the owner's cancel ends the group", family, "cancel", "cancelled", ""},
            {"the program quitting ends the group, no cancel", family, "quit", "signal", ""},
            {"a signal not asked for is no cancel", "echo 'ERROR: dying' >&2\nkill -9 $$", "",
             "signal", "ERROR: dying\n"},
            {"missing program", "missing", "", "launch",
             "Не удалось запустить программу «missing»: файл не найден."},
            {"not a program", "plain", "", "launch",
             "Не удалось запустить программу «plain»: файл не является программой."}};
        for (const auto &[name, body, stop, ending, text] : rows)
            QTest::newRow(name) << body << stop << ending << text;
    }

    void endings()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, stop);
        QFETCH(QString, ending);
        const QString ticks = m_dir.filePath("ticks.txt");
        QFile::remove(ticks);
        ProcessGroupRegistry groups;
        ProcessRequest r{.program = m_dir.filePath(body), .arguments = {ticks}, .groups = &groups};
        if (body == "plain") {
            QFile plain(r.program);
            QVERIFY(plain.open(QIODevice::WriteOnly));
        } else if (body != "missing") {
            r.program = script("ending.sh", body + "\n");
        }
        r.keepStandardOutput = true;
        r.standardOutputLimit = 100000;
        r.timeoutSeconds = ending == "timeout" ? 0.3 : 0;
        Run run;
        if (stop == "before")
            run.runner->control()->cancel();
        run.runner->start(r);
        QVERIFY(run.finished.isEmpty()); // never from inside start()
        if (stop == "cancel" || stop == "quit") {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(ticks).size() > 0, 20000);
            QCOMPARE(groups.size(), 1);
            stop == "quit" ? groups.endAll() : run.runner->cancel();
        }
        QTRY_COMPARE_WITH_TIMEOUT(run.finished.size(), 1, 20000);
        const ProcessResult result = run.result();
        const QString ended = !result.launched             ? "launch"
                              : result.outputLimitExceeded ? "limit"
                              : result.timedOut            ? "timeout"
                              : result.cancelled           ? "cancelled"
                              : result.endedBySignal       ? "signal"
                                                           : "exit";
        QCOMPARE(ended, ending);
        QVERIFY(!result.succeeded());
        QVERIFY(result.standardOutput.isEmpty());
        QTEST(result.launched ? result.diagnostic : result.launchError, "text");
        QCOMPARE(groups.size(), 0);
        if (body.startsWith("sh -c")) {
            QVERIFY(result.endedBySignal);
            // Nothing keeps writing once the run has ended.
            QTest::qWait(300);
            const qint64 settled = QFileInfo(ticks).size();
            QTest::qWait(500);
            QCOMPARE(QFileInfo(ticks).size(), settled);
        }
    }

    // A child dies with the program even when the program is killed and cannot end it.
    void childrenDieWithTheProgram()
    {
        const QString child = script("child.sh", "echo $$ > \"$0.new\"; mv \"$0.new\" \"$0.pid\";"
                                                 " exec sleep 30");
        QProcess holder;
        holder.start(PROCESS_HOLDER, {child});
        QFile pid(child + ".pid");
        QTRY_VERIFY_WITH_TIMEOUT(pid.exists(), 10000);
        QVERIFY(pid.open(QIODevice::ReadOnly));
        // Gone, or a zombie nobody has reaped yet.
        const auto alive = [path = "/proc/" + pid.readAll().trimmed() + "/stat"] {
            QFile stat(path);
            return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
        };
        holder.kill();
        QVERIFY(holder.waitForFinished());
        QTRY_VERIFY_WITH_TIMEOUT(!alive(), 10000);
    }

    // Without "--progress-delta" the engine prints every step; at most one line per interval
    // gets through, and the newest always arrives.
    void olderEnginesAreThrottledHere()
    {
        const QString path = script("burst.sh", "i=1; while [ $i -le 20 ]; do echo "
                                                "\"tovrin:$i|20|NA\"; i=$((i+1)); done\n");
        Run run;
        run.runner->start(
            {.program = path, .progressMarker = "tovrin:", .progressIntervalSeconds = 0.5});
        QTRY_COMPARE_WITH_TIMEOUT(run.finished.size(), 1, 20000);
        QVERIFY2(!run.lines.isEmpty() && run.lines.size() <= 3, qPrintable(run.lines.join(u' ')));
        QCOMPARE(run.lines.last(), "tovrin:20|20|NA");
    }
};

TOVRIN_TEST(TestProcessRunner);
#include "test_process_runner.moc"
