#include "engine/engine_arguments.h"
#include "app/process/process_runner.h"
#include "support/fixture_server.h"
#include "support/test_main.h"
#include "video/download_failure.h"

#include <QSignalSpy>
#include <QTest>

// Error lines printed by Debian's own engine must be explained as the engine really words them.
// (How its documents decode into choices is the end-to-end test's to show, on media made with
// FFmpeg.)
class TestEngineDocuments : public QObject {
    Q_OBJECT

private slots:
    void realErrorLinesAreExplained()
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/yt-dlp")))
            QSKIP("needs Debian's yt-dlp");
        qRegisterMetaType<ProcessResult>();
        FixtureServer server;
        ProcessRunner runner;
        QSignalSpy finished(&runner, &ProcessRunner::finished);
        ProcessRequest request;
        request.program = QStringLiteral("/usr/bin/yt-dlp");
        request.arguments =
            EngineArguments::analysis(server.url("/missing.mp4"), VideoAccessMode::Standard);
        runner.start(request);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
        const auto result = finished.first().first().value<ProcessResult>();
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
