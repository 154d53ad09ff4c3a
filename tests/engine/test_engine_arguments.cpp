#include "engine/engine_arguments.h"
#include "engine/js_runtime.h"
#include "install_scene.h"
#include "support/test_main.h"

class TestEngineArguments : public QObject {
    Q_OBJECT

private slots:
    // The version as the build prints it decides: options the build does not know are left
    // out ("--progress-delta" from 2024.04.09, the runtime from 2025.11.12, always just before
    // the link); an undated or unknown version counts as old.
    void commandLines_data()
    {
        QTest::addColumn<QString>("kind"); // "analysis" (embedded mode), "single" step, "track"
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("runtime"); // KIND:PATH of a usable runtime
        QTest::addColumn<bool>("ffmpeg");     // only a single-step run converts sound
        QTest::addColumn<QStringList>("arguments");
        using L = QStringList;
        const L analysis{"--dump-single-json", "--no-playlist", "--no-warnings", "--extractor-args",
                         "youtube:player_client=web_embedded"};
        const QString tpl = "download:tovrin:%(progress.downloaded_bytes)s|"
                            "%(progress.total_bytes)s|%(progress.total_bytes_estimate)s";
        const L head{"--progress-template", tpl, "--format", "137", "--output", "/w/video.mp4",
                     "--playlist-items",    "2"};
        const L tail = head + L{"LINK"}, delta{"--progress-delta", "0.5"};
        const L single{"--newline", "--no-playlist", "--no-overwrites"};
        const L track{"--newline", "--no-playlist", "--no-warnings"};
        const L deno{"--no-js-runtimes", "--js-runtimes", "deno:/opt/deno", "LINK"};
        const L sound{"--extract-audio", "--audio-format", "m4a", "--ffmpeg-location", "/usr/bin"};
        const QList<std::tuple<const char *, QString, QString, QString, bool, L>> rows{
            {"analysis, new engine", "analysis", "2025.11.12\n", "deno:/opt/deno", false,
             analysis + deno},
            {"single step, new engine, sound", "single", "2025.11.12", "deno:/opt/deno", true,
             single + delta + head + deno + sound},
            {"track, nightly build, a Node", "track", "2025.11.12.232853", "node:/usr/bin/node",
             false,
             track + delta + head
                 + L{"--no-js-runtimes", "--js-runtimes", "node:/usr/bin/node", "LINK"}},
            {"track, the build before the runtime", "track", "2025.11.11", "deno:/opt/deno", true,
             track + delta + tail},
            {"track, first build with progress-delta, short month", "track", "2024.4.9",
             "deno:/opt/deno", false, track + delta + tail},
            {"single step, the build before progress-delta", "single", "2024.04.08",
             "deno:/opt/deno", false, single + tail},
            {"not a date", "track", "2025.13.40", "deno:/opt/deno", false, track + tail},
            {"no version", "track", "yt-dlp version unknown", "deno:/opt/deno", false,
             track + tail}};
        for (const auto &[name, kind, version, runtime, ffmpeg, arguments] : rows)
            QTest::newRow(name) << kind << version << runtime << ffmpeg << arguments;
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
        if (ffmpeg)
            run.extractAudioWithFFmpegIn = "/usr/bin";
        QTEST(kind == "analysis" ? EngineArguments::analysis(
                  "LINK", VideoAccessMode::YouTubeEmbedded, run.runtimeArguments)
                                 : EngineArguments::download(run, engine),
              "arguments");
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
