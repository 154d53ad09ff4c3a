#include "support/scripts.h"
#include "support/test_main.h"
#include "video_scene.h"

#include <QScopeGuard>

// The real Debian yt-dlp and FFmpeg on loopback: a clip made by FFmpeg, served as a plain MP4
// and as a DASH manifest, analysed and downloaded through DownloadModel, checked with ffprobe.
class TestVideoEndToEnd : public QObject {
    Q_OBJECT

    static inline const QString kPlatformPrefix = QStringLiteral("https://rutube.ru/e2e/");
    QTemporaryDir m_media;
    std::unique_ptr<FixtureServer> m_server;

    // What ffprobe sees: the stream types, the container and the length in whole seconds.
    static QString probe(const QString &path)
    {
        QProcess process;
        process.start("/usr/bin/ffprobe", {"-v", "error", "-show_entries",
                                           "stream=codec_type:format=format_name,duration", "-of",
                                           "default=nw=1:nk=1", path});
        process.waitForFinished(30000);
        QStringList facts =
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        if (!facts.isEmpty())
            facts.last() = QString::number(qRound(facts.last().toDouble())) + u's';
        return facts.join(u' ');
    }

    // The program accepts links of the video platforms only; the wrapper hands the real engine
    // the loopback address behind a platform-looking link.
    void useRealEngine(const VideoScene &s) const
    {
        VideoScene::writeScript(s.enginePath(),
                                QString("#!/bin/sh\n"
                                        "for a in \"$@\"; do shift\n"
                                        "  case \"$a\" in %1*) a=\"%2/${a#%1}\";; esac\n"
                                        "  set -- \"$@\" \"$a\"\n"
                                        "done\n"
                                        "exec /usr/bin/yt-dlp \"$@\"\n")
                                    .arg(kPlatformPrefix, m_server->baseUrl()));
    }

    // Analyses `link` with the real engine and queues the first option with sound: the file's
    // path, or else what the screen said or why the job failed.
    static QString downloadFirstOption(VideoScene &s, const QString &link, bool expectMerge)
    {
        s.analyse(link);
        const AnalysisState &analysis = s.model->analysis().state();
        const QList<DownloadOption> options = s.model->choices().state().lists.withAudio;
        if (options.isEmpty() || options.first().requiresMerge() != expectMerge)
            return analysis.status + u' ' + analysis.error.value_or(QString());
        s.model->startDownload(options.first());
        VideoDownloadJob *job = s.model->queue().state().jobs.first();
        QString ended;
        QObject::connect(job, &Job::finished, job, [&](const JobResult &result) {
            ended = result.outcome == Outcome::Succeeded ? job->outputPath() : result.message;
        });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!ended.isEmpty(), 90000); }();
        return ended;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists("/usr/bin/yt-dlp"));
        QDir().mkpath(m_media.filePath("dash"));
        QDir().mkpath(m_media.filePath("hls"));
        // One clip as a plain MP4, as a DASH manifest, and its tracks apart (VP8 and AAC).
        const QString h264 = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest";
        QProcess ffmpeg;
        ffmpeg.setWorkingDirectory(m_media.path());
        ffmpeg.start("/usr/bin/ffmpeg",
                     ("-hide_banner -loglevel error -f lavfi -i testsrc=size=160x120:rate=25:"
                      "duration=2 -f lavfi -i sine=frequency=440:duration=2 "
                      + h264 + " clip.mp4 " + h264
                      + " -f dash -seg_duration 1 dash/manifest.mpd -map 0:v -c:v libvpx -b:v "
                        "200k vp8.webm -map 1:a -c:a aac sound.m4a "
                      + h264 + " -g 25 -f hls -hls_time 1 -hls_list_size 0 hls/clip.m3u8")
                         .split(u' '));
        QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);

        m_server = std::make_unique<FixtureServer>();
        m_server->serveFile("/clip.mp4", m_media.filePath("clip.mp4"), "video/mp4");
        const QDir dash(m_media.filePath("dash"));
        for (const QString &name : dash.entryList(QDir::Files)) {
            m_server->serveFile("/dash/" + name, dash.filePath(name),
                                name.endsWith(".mpd") ? "application/dash+xml"
                                                      : "video/iso.segment");
        }
        // A streamed clip of two fragments, the second of which the server no longer has.
        m_server->serveFile("/hls/clip.m3u8", m_media.filePath("hls/clip.m3u8"),
                            "application/vnd.apple.mpegurl");
        m_server->serveFile("/hls/clip0.ts", m_media.filePath("hls/clip0.ts"), "video/mp2t");
    }

    // The user's own engine settings ("-x" where the program was started, "--remux-video mkv"
    // in the user's settings folder) change nothing: analyses run in an empty folder of their
    // own, downloads in their work folder. A stream with a fragment missing fails and leaves
    // nothing behind.
    void downloadsDirectAndMergedWithTheRealEngine()
    {
        // A runtime is installed: the 2023 build, which knows no runtime options, must not be
        // handed it.
        VideoScene s({"/usr/bin/ffmpeg"}, QList<JsRuntime>{});
        QDir().mkpath(s.dir.filePath("config/yt-dlp"));
        writeScript(s.dir.filePath("config/yt-dlp/config"), "--remux-video mkv");
        writeScript(s.dir.filePath("yt-dlp.conf"), "-x");
        const QString startedIn = QDir::currentPath();
        QDir::setCurrent(s.dir.path());
        const auto restore = qScopeGuard([&] { QDir::setCurrent(startedIn); });
        // The program accepts links of the video platforms only; the wrapper hands the real
        // engine the loopback address behind a platform-looking link.
        VideoScene::writeScript(
            s.enginePath(),
            QString("#!/bin/sh\n"
                    "pwd >> '%3'; ls -A >> '%3'\n"
                    "for a in \"$@\"; do shift\n"
                    "  case \"$a\" in %1*) a=\"%2/${a#%1}\";; esac\n"
                    "  set -- \"$@\" \"$a\"\n"
                    "done\n"
                    "XDG_CONFIG_HOME='%4' exec /usr/bin/yt-dlp \"$@\"\n")
                .arg(kPlatformPrefix, m_server->baseUrl(), s.engineLog, s.dir.filePath("config")));

        // A page missing on loopback: the explanation fits the real engine's words.
        s.analyse(kPlatformPrefix + "missing.mp4");
        const QString generic = "Не удалось скачать файл. Откройте ссылку в браузере и "
                                "проверьте, что публикация доступна без ограничений.";
        QCOMPARE(s.model->analysis().state().error, generic);
        const QString direct = downloadFirstOption(s, kPlatformPrefix + "clip.mp4", false);
        QCOMPARE(probe(direct), "video audio mov,mp4,m4a,3gp,3g2,mj2 2s");
        const QString merged = downloadFirstOption(s, kPlatformPrefix + "dash/manifest.mpd", true);
        QCOMPARE(probe(merged), "video audio mov,mp4,m4a,3gp,3g2,mj2 2s");
        QCOMPARE(downloadFirstOption(s, kPlatformPrefix + "hls/clip.m3u8", false), generic);
        QCOMPARE(s.downloadsEntries(), QStringList({"clip [clip].mp4", "manifest [manifest].mp4"}));
        // Each run's folder, then what it held when the run began: nothing but ours.
        for (const QString &line : s.engineCalls())
            QVERIFY2(line != s.dir.path() && !line.contains("yt-dlp.conf"), qPrintable(line));
    }

    // A job soon after its analysis downloads from the analysis's document, so the host sees no
    // other extraction; a job whose media link the host refuses, or a later one, extracts again.
    void downloadsFromTheAnalysisDocument()
    {
        VideoScene s;
        useRealEngine(s);
        s.analyse(kPlatformPrefix + "clip.mp4");
        FixtureServer::Fault refused;
        refused.status = 403;
        // Minutes after the analysis, refusals, and the clip's requests (extractions, downloads).
        for (const auto &[minutes, refusals, requests] :
             {std::tuple{0, 0, 1}, {0, 1, 3}, {31, 0, 2}}) {
            const int before = m_server->requestCount("/clip.mp4");
            s.clock.monotonic += minutes * 60;
            m_server->script("/clip.mp4", QList<FixtureServer::Fault>(refusals, refused));
            const qsizetype ended = s.model->history().items().size();
            s.model->analysis().setLink(kPlatformPrefix + "clip.mp4");
            s.model->startDownload(s.model->choices().state().lists.withAudio.first());
            QTRY_COMPARE_WITH_TIMEOUT(s.model->history().items().size(), ended + 1, 60000);
            QCOMPARE(s.model->history().items().first().message, "Готово — файл в выбранной папке");
            QCOMPARE(m_server->requestCount("/clip.mp4") - before, requests);
        }
    }

    // A track declared as H.264 that really is VP8: MP4 refuses it, the job falls back to MKV.
    void fallsBackToMKVWhenMP4RefusesTheTrack()
    {
        VideoScene s;
        QFile(QDir(s.locations.downloadsFolder).filePath("Clip [v8].mkv"))
            .open(QIODevice::WriteOnly);
        // The merged name takes the title and id of the analysed video.
        s.answerAnalysis(videoDocument("v8", "Clip", mergeableFormats()),
                         QString("case \"$out\" in */video.mp4) cp '%1' \"$out\";; *) cp '%2' "
                                 "\"$out\";; esac")
                             .arg(m_media.filePath("vp8.webm"), m_media.filePath("sound.m4a")));
        s.analyse("https://vimeo.com/8");
        s.model->startDownload(s.model->choices().state().lists.withAudio.first());
        QTRY_COMPARE_WITH_TIMEOUT(s.model->history().items().size(), 1, 30000);
        const DownloadHistoryItem item = s.model->history().items().first();
        QCOMPARE(item.message, "Готово — MKV · H.264 (MP4 не поддерживается)");
        QCOMPARE(QFileInfo(item.path).fileName(), "Clip [v8] (2).mkv");
        QCOMPARE(probe(item.path), "video audio matroska,webm 2s");
        QCOMPARE(QFileInfo(QDir(s.locations.downloadsFolder).filePath("Clip [v8].mkv")).size(), 0);
    }

    void cleanupTestCase() { m_server.reset(); }
};

TOVRIN_TEST(TestVideoEndToEnd);
#include "test_video_end_to_end.moc"
