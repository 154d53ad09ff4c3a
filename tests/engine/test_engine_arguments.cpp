#include "engine/engine_arguments.h"
#include "engine/js_runtime.h"
#include "install_scene.h"
#include "support/test_main.h"

class TestEngineArguments : public QObject {
    Q_OBJECT

private slots:
    // The version as the build prints it decides which options a run gets: "--progress-delta"
    // from 2024.04.09, the runtime from 2025.11.12 (always just before the link, which is
    // last); an undated or unknown version counts as old. Sound is converted only by a
    // single-step run that found FFmpeg.
    void optionsFollowTheBuild_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("singleStep");
        QTest::addColumn<bool>("delta");
        QTest::addColumn<bool>("runtime");
        QTest::newRow("new engine") << "2025.11.12\n" << true << true << true;
        QTest::newRow("nightly build") << "2025.11.12.232853" << false << true << true;
        QTest::newRow("the build before the runtime") << "2025.11.11" << false << true << false;
        QTest::newRow("first build with progress-delta") << "2024.4.9" << true << true << false;
        QTest::newRow("the build before progress-delta") << "2024.04.08" << true << false << false;
        QTest::newRow("not a date") << "2025.13.40" << false << false << false;
        QTest::newRow("no version") << "yt-dlp version unknown" << false << false << false;
    }

    void optionsFollowTheBuild()
    {
        QFETCH(QString, version);
        QFETCH(bool, singleStep);
        QFETCH(bool, runtime);
        const EngineCapabilities engine{parseEngineVersion(version)};
        const JsRuntime node{JsRuntime::Kind::Node, "/usr/bin/node"};
        EngineArguments::DownloadRun run;
        run.kind = singleStep ? EngineArguments::DownloadRun::Kind::SingleStep
                              : EngineArguments::DownloadRun::Kind::Track;
        run.format = "137";
        run.runtimeArguments = EngineArguments::runtimeArguments(engine, node);
        run.link = "LINK";
        run.extractAudioWithFFmpegIn = "/usr/bin";
        const QStringList download = EngineArguments::download(run, engine);
        const QStringList analysis =
            EngineArguments::analysis("LINK", VideoAccessMode::Standard, run.runtimeArguments);

        QTEST(download.contains("--progress-delta"), "delta");
        QCOMPARE(download.contains("--no-overwrites"), singleStep);
        QCOMPARE(download.contains("--extract-audio"), singleStep);
        for (const QStringList &arguments : {download, analysis}) {
            const qsizetype link = arguments.indexOf("LINK");
            QVERIFY(link >= 0);
            QCOMPARE(arguments.at(link - 1) == "node:/usr/bin/node", runtime);
            QCOMPARE(arguments.contains("--js-runtimes"), runtime);
            // Sound conversion is the only thing after the link.
            QCOMPARE(arguments.indexOf("--ffmpeg-location", link) > 0,
                     arguments == download && singleStep);
        }
    }

    void probeAsksEachBuildOnce()
    {
        // The stand-in counts how often it is asked; a rewritten build is asked again.
        QTemporaryDir dir;
        const QString engine = dir.filePath("yt-dlp_linux");
        const QString count = dir.filePath("count");
        const auto write = [&](const QByteArray &version) {
            writeScript(engine, "echo x >> '" + count.toUtf8() + "'\necho " + version);
        };
        write("2023.03.04");
        VersionProbe probe;
        EngineCapabilities first, second, third, missing;
        onAWorker([&] {
            first = probe.capabilities(engine);
            second = probe.capabilities(engine);
        });
        QCOMPARE(first.version, QDate(2023, 3, 4));
        QVERIFY(!second.knowsProgressDelta());
        QFile counted(count);
        QVERIFY(counted.open(QIODevice::ReadOnly));
        QCOMPARE(counted.readAll(), QByteArray("x\n"));

        write("2025.11.12.232853 extra");
        onAWorker([&] {
            third = probe.capabilities(engine);
            missing = probe.capabilities(dir.filePath("absent"));
        });
        QVERIFY(third.knowsJsRuntimes());
        QCOMPARE(missing.version, std::nullopt);
    }

    // Stand-ins answer "--version" as written (nothing: the file is missing; "fail": exit 1);
    // the first usable one wins.
    void runtimeChoice_data()
    {
        QTest::addColumn<QStringList>("candidates"); // KIND=ANSWER
        QTest::addColumn<int>("chosen");             // -1: none
        QTest::newRow("Deno 2.3.0 exactly") << QStringList{"deno=deno 2.3.0"} << 0;
        QTest::newRow("Deno too old, then Node 22")
            << QStringList{"deno=deno 2.2.12", "node=v22.0.0"} << 1;
        QTest::newRow("a Node 18 is not used") << QStringList{"node=v18.19.0"} << -1;
        QTest::newRow("missing, failing, then Deno")
            << QStringList{"deno=", "deno=fail", "deno=deno 2.5.6 (stable, release)"} << 2;
        QTest::newRow("a Node's answer from a Deno") << QStringList{"deno=v22.1.0"} << -1;
    }

    void runtimeChoice()
    {
        QFETCH(QStringList, candidates);
        QFETCH(int, chosen);
        QTemporaryDir dir;
        QList<JsRuntime> runtimes;
        for (const QString &candidate : candidates) {
            const QString path = dir.filePath(QString::number(runtimes.size()));
            const QString answer = candidate.mid(5);
            if (!answer.isEmpty())
                writeScript(path, answer == "fail" ? "exit 1" : "echo '" + answer.toUtf8() + "'");
            runtimes.append(
                {candidate.startsWith("node") ? JsRuntime::Kind::Node : JsRuntime::Kind::Deno,
                 path});
        }
        VersionProbe probe;
        std::optional<JsRuntime> result;
        onAWorker([&] { result = firstUsableRuntime(runtimes, probe); });
        QCOMPARE(result, chosen < 0 ? std::nullopt : std::optional(runtimes.at(chosen)));
    }
};

TOVRIN_TEST(TestEngineArguments);
#include "test_engine_arguments.moc"
