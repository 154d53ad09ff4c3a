#include "engine/engine_arguments.h"
#include "support/test_main.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

class TestEngineArguments : public QObject {
    Q_OBJECT

private slots:
    void analysis_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("arguments");
        const QStringList head{"--dump-single-json", "--no-playlist", "--no-warnings"};
        const QString link = "https://www.youtube.com/watch?v=abc";
        QTest::newRow("standard") << int(VideoAccessMode::Standard) << head + QStringList{link};
        QTest::newRow("embedded") << int(VideoAccessMode::YouTubeEmbedded)
                                  << head
                                         + QStringList{"--extractor-args",
                                                       "youtube:player_client=web_embedded", link};
        QTest::newRow("mobile") << int(VideoAccessMode::YouTubeMobile)
                                << head
                                       + QStringList{"--extractor-args",
                                                     "youtube:player_client=mweb", link};
    }

    void analysis()
    {
        QFETCH(int, mode);
        QTEST(
            EngineArguments::analysis("https://www.youtube.com/watch?v=abc", VideoAccessMode(mode)),
            "arguments");
    }

    void download_data()
    {
        QTest::addColumn<bool>("singleStep");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("ffmpeg");
        QTest::addColumn<QStringList>("arguments");
        const QString tpl = "download:tovrin:%(progress.downloaded_bytes)s|"
                            "%(progress.total_bytes)s|%(progress.total_bytes_estimate)s";
        const QStringList tail{
            "--progress-template", tpl, "--format", "137", "--output", "/w/video.mp4",
            "--playlist-items",    "2", "LINK"};
        QTest::newRow("single step, new engine, sound conversion")
            << true << "2025.11.12" << true
            << QStringList{"--newline", "--no-playlist", "--no-overwrites", "--progress-delta",
                           "0.5"}
                   + tail
                   + QStringList{"--extract-audio", "--audio-format", "m4a", "--ffmpeg-location",
                                 "/usr/bin"};
        QTest::newRow("track, first build with progress-delta")
            << false << "2024.04.09" << true
            << QStringList{"--newline", "--no-playlist", "--no-warnings", "--progress-delta", "0.5"}
                   + tail;
        QTest::newRow("single step, Debian's packaged engine")
            << true << "2023.03.04" << false
            << QStringList{"--newline", "--no-playlist", "--no-overwrites"} + tail;
        QTest::newRow("unknown version counts as old")
            << false << "" << false
            << QStringList{"--newline", "--no-playlist", "--no-warnings"} + tail;
    }

    void download()
    {
        QFETCH(bool, singleStep);
        QFETCH(QString, version);
        QFETCH(bool, ffmpeg);
        EngineArguments::DownloadRun run;
        run.kind = singleStep ? EngineArguments::DownloadRun::Kind::SingleStep
                              : EngineArguments::DownloadRun::Kind::Track;
        run.format = "137";
        run.output = "/w/video.mp4";
        run.extraArguments = {"--playlist-items", "2"};
        run.link = "LINK";
        // Only a single-step run converts sound.
        run.extractAudioWithFFmpegIn = "/usr/bin";
        if (!ffmpeg)
            run.extractAudioWithFFmpegIn.reset();
        const EngineCapabilities engine{parseEngineVersion(version)};
        QTEST(EngineArguments::download(run, engine), "arguments");
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
            QFile file(engine);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\necho x >> '" + count.toUtf8() + "'\necho " + version + "\n");
            file.close();
            QFile::setPermissions(engine, QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
        };
        write("2023.03.04");
        EngineVersionProbe probe;
        EngineCapabilities first, second, third, missing;
        QThread *worker = QThread::create([&] {
            first = probe.capabilities(engine);
            second = probe.capabilities(engine);
        });
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 30000);
        delete worker;
        QCOMPARE(first.version, QDate(2023, 3, 4));
        QVERIFY(!second.knowsProgressDelta());
        QFile counted(count);
        QVERIFY(counted.open(QIODevice::ReadOnly));
        QCOMPARE(counted.readAll(), QByteArray("x\n"));
        counted.close();

        write("2025.11.12.232853 extra");
        worker = QThread::create([&] {
            third = probe.capabilities(engine);
            missing = probe.capabilities(dir.filePath("absent"));
        });
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 30000);
        delete worker;
        QVERIFY(third.knowsProgressDelta());
        QCOMPARE(missing.version, std::nullopt);
    }
};

TOVRIN_TEST(TestEngineArguments);
#include "test_engine_arguments.moc"
