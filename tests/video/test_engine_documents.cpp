#include "engine/engine_arguments.h"
#include "engine/process_runner.h"
#include "support/fixture_server.h"
#include "support/test_main.h"
#include "video/download_choices.h"
#include "video/download_failure.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Documents and error lines printed by Debian's own engine for media made here with FFmpeg and
// served on loopback: the decoding and the choices must fit what the engine really says.
class TestEngineDocuments : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FixtureServer> m_server;

    ProcessResult analyse(const QString &link)
    {
        ProcessRunner runner;
        QSignalSpy finished(&runner, &ProcessRunner::finished);
        ProcessRequest request;
        request.program = QStringLiteral("/usr/bin/yt-dlp");
        request.arguments = EngineArguments::analysis(link, VideoAccessMode::Standard);
        request.keepStandardOutput = true;
        runner.start(request);
        [&] { QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000); }();
        return finished.isEmpty() ? ProcessResult()
                                  : finished.first().first().value<ProcessResult>();
    }

    static bool ffmpeg(const QStringList &args)
    {
        return QProcess::execute(QStringLiteral("/usr/bin/ffmpeg"),
                                 QStringList{"-loglevel", "error", "-y"} + args)
               == 0;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<ProcessResult>();
        if (!QFile::exists(QStringLiteral("/usr/bin/yt-dlp")) || !QFile::exists("/usr/bin/ffmpeg"))
            QSKIP("needs Debian's yt-dlp and ffmpeg");
        QVERIFY(m_dir.isValid());
        const QString clip = m_dir.filePath("clip.mp4");
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
                        "sine=frequency=440", "-t", "1", "-c:v", "libx264", "-c:a", "aac",
                        "-shortest", clip}));
        QDir(m_dir.path()).mkdir("dash");
        QVERIFY(ffmpeg({"-i", clip, "-map", "0:v", "-map", "0:a", "-c", "copy", "-f", "dash",
                        m_dir.filePath("dash/manifest.mpd")}));
        m_server = std::make_unique<FixtureServer>();
        QVERIFY(m_server->isListening());
        m_server->serveFile("/media/clip.mp4", clip, "video/mp4");
        const QDir dash(m_dir.filePath("dash"));
        for (const QString &name : dash.entryList(QDir::Files)) {
            m_server->serveFile("/dash/" + name, dash.filePath(name),
                                name.endsWith(".mpd") ? "application/dash+xml" : "video/mp4");
        }
    }

    void dashManifestGivesSeparateTracks()
    {
        const ProcessResult result = analyse(m_server->url("/dash/manifest.mpd"));
        QVERIFY2(result.succeeded(), qPrintable(result.diagnostic));
        const Result<VideoMetadata> meta = decodeVideoMetadata(result.standardOutput);
        QVERIFY2(meta.ok(), qPrintable(meta.ok() ? QString() : meta.error().message));
        QCOMPARE(meta.value().videoID, "manifest");
        const DownloadChoices choices = downloadChoices(meta.value());
        QCOMPARE(choices.withAudio.size(), 1);
        QVERIFY(choices.withAudio[0].requiresMerge());
        QCOMPARE(choices.withAudio[0].title(), "240p");
        QCOMPARE(choices.withAudio[0].detail(), "MP4 · H.264 · звук будет объединён на компьютере");
        QCOMPARE(choices.videoOnly.size(), 1);
        QCOMPARE(choices.videoOnly[0].formatID, choices.withAudio[0].video.formatID);
        QCOMPARE(choices.audioOnly.size(), 1);
        QCOMPARE(*choices.withAudio[0].audioFormatID, choices.audioOnly[0].formatID);
        QCOMPARE(choices.audioOnly[0].audioOptionDetail(), "MP4A");
    }

    void plainFileGivesOneCombinedFormat()
    {
        const ProcessResult result = analyse(m_server->url("/media/clip.mp4"));
        QVERIFY2(result.succeeded(), qPrintable(result.diagnostic));
        const Result<VideoMetadata> meta = decodeVideoMetadata(result.standardOutput);
        QVERIFY(meta.ok());
        const DownloadChoices choices = downloadChoices(meta.value());
        QCOMPARE(choices.withAudio.size(), 1);
        QVERIFY(!choices.withAudio[0].requiresMerge());
        QVERIFY(choices.withAudio[0].video.hasOpaqueCombinedTracks());
        QVERIFY(choices.audioOnly.isEmpty());
        QVERIFY(choices.videoOnly.isEmpty());
    }

    void realErrorLinesAreExplained()
    {
        const ProcessResult result = analyse(m_server->url("/missing.mp4"));
        QVERIFY(!result.succeeded());
        QVERIFY(result.diagnostic.contains("HTTP Error 404"));
        QVERIFY(!DownloadFailure::requiresYouTubeFallback(result.diagnostic));
        QVERIFY(!DownloadFailure::requiresEngineRefresh(result.diagnostic));
        QCOMPARE(DownloadFailure::explanation(result.diagnostic),
                 "Не удалось скачать файл. Откройте ссылку в браузере и проверьте, что "
                 "публикация доступна без ограничений.");
    }
};

TOVRIN_TEST(TestEngineDocuments);
#include "test_engine_documents.moc"
