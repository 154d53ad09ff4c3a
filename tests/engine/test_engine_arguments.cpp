#include "engine/engine_arguments.h"
#include "engine/js_runtime.h"
#include "install_scene.h"
#include "support/test_main.h"

class TestEngineArguments : public QObject {
    Q_OBJECT

private slots:
    // Options the build does not know are left out; only builds from 2025.11.12 on are told
    // about the runtime, always just before the link.
    void commandLines_data()
    {
        QTest::addColumn<QString>("kind"); // "analysis" (embedded mode), "single" step, "track"
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("runtime"); // KIND:PATH of a usable runtime
        QTest::addColumn<bool>("ffmpeg");
        QTest::addColumn<QStringList>("arguments");
        const QStringList analysis{"--dump-single-json", "--no-playlist", "--no-warnings",
                                   "--extractor-args", "youtube:player_client=web_embedded"};
        const QString tpl = "download:tovrin:%(progress.downloaded_bytes)s|"
                            "%(progress.total_bytes)s|%(progress.total_bytes_estimate)s";
        const QStringList head{
            "--progress-template", tpl, "--format", "137", "--output", "/w/video.mp4",
            "--playlist-items",    "2"};
        const QStringList tail = head + QStringList{"LINK"};
        const QStringList single{"--newline", "--no-playlist", "--no-overwrites"};
        const QStringList track{"--newline", "--no-playlist", "--no-warnings"};
        const QStringList delta{"--progress-delta", "0.5"};
        const QStringList told{"--no-js-runtimes", "--js-runtimes"};
        QTest::newRow("analysis, new engine")
            << "analysis"
            << "2025.11.12"
            << "deno:/opt/deno" << false << analysis + told + QStringList{"deno:/opt/deno", "LINK"};
        QTest::newRow("analysis, Debian's packaged engine")
            << "analysis"
            << "2023.03.04"
            << "deno:/opt/deno" << false << analysis + QStringList{"LINK"};
        QTest::newRow("single step, new engine, sound conversion")
            << "single"
            << "2025.11.12"
            << "deno:/opt/deno" << true
            << single + delta + head + told
                   + QStringList{"deno:/opt/deno", "LINK", "--extract-audio",
                                 "--audio-format", "m4a",  "--ffmpeg-location",
                                 "/usr/bin"};
        QTest::newRow("track, nightly build, a Node")
            << "track"
            << "2025.11.12.232853"
            << "node:/usr/local/bin/node" << false
            << track + delta + head + told + QStringList{"node:/usr/local/bin/node", "LINK"};
        QTest::newRow("track, the build before the runtime options")
            << "track"
            << "2025.11.11"
            << "deno:/opt/deno" << true << track + delta + tail;
        QTest::newRow("track, first build with progress-delta")
            << "track"
            << "2024.04.09"
            << "deno:/opt/deno" << true << track + delta + tail;
        QTest::newRow("single step, Debian's packaged engine")
            << "single"
            << "2023.03.04"
            << "deno:/opt/deno" << false << single + tail;
        QTest::newRow("unknown version counts as old") << "track"
                                                       << ""
                                                       << "deno:/opt/deno" << false << track + tail;
    }

    void commandLines()
    {
        QFETCH(QString, kind);
        QFETCH(QString, version);
        QFETCH(QString, runtime);
        QFETCH(bool, ffmpeg);
        const EngineCapabilities engine{parseEngineVersion(version)};
        const JsRuntime usable{runtime.startsWith("node") ? JsRuntime::Kind::Node
                                                          : JsRuntime::Kind::Deno,
                               runtime.section(u':', 1)};
        EngineArguments::DownloadRun run;
        run.kind = kind == "single" ? EngineArguments::DownloadRun::Kind::SingleStep
                                    : EngineArguments::DownloadRun::Kind::Track;
        run.format = "137";
        run.output = "/w/video.mp4";
        run.extraArguments = {"--playlist-items", "2"};
        run.runtimeArguments = EngineArguments::runtimeArguments(engine, usable);
        run.link = "LINK";
        // Only a single-step run converts sound.
        if (ffmpeg)
            run.extractAudioWithFFmpegIn = "/usr/bin";
        QTEST(kind == "analysis" ? EngineArguments::analysis(
                  "LINK", VideoAccessMode::YouTubeEmbedded, run.runtimeArguments)
                                 : EngineArguments::download(run, engine),
              "arguments");
        QCOMPARE(engine.ownProgressIntervalSeconds(), engine.knowsProgressDelta() ? 0.0 : 0.5);
    }

    void versionDates_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QDate>("date");
        QTest::newRow("release") << "2023.03.04\n" << QDate(2023, 3, 4);
        QTest::newRow("nightly") << "2025.11.12.232853\n" << QDate(2025, 11, 12);
        QTest::newRow("short month") << "2021.6.9" << QDate(2021, 6, 9);
        QTest::newRow("not a date") << "2023.13.40" << QDate();
        QTest::newRow("words") << "yt-dlp version unknown" << QDate();
        QTest::newRow("empty") << "" << QDate();
    }

    void versionDates()
    {
        QFETCH(QString, output);
        QFETCH(QDate, date);
        QCOMPARE(parseEngineVersion(output).value_or(QDate()), date);
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
        QTest::newRow("installed Deno") << QStringList{"deno=deno 2.5.6 (stable, release)"} << 0;
        QTest::newRow("Deno 2.3.0 exactly") << QStringList{"deno=deno 2.3.0"} << 0;
        QTest::newRow("Deno too old, then Node 22")
            << QStringList{"deno=deno 2.2.12", "node=v22.0.0"} << 1;
        QTest::newRow("a Node 18 is not used") << QStringList{"node=v18.19.0"} << -1;
        QTest::newRow("missing, failing, then Deno")
            << QStringList{"deno=", "deno=fail", "deno=deno 2.5.6"} << 2;
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
