#include "support/test_main.h"
#include "video/download_failure.h"
#include "video_scene.h"

#include <QSignalSpy>

// Format discovery through the real DownloadModel, with a stand-in engine script.
class TestFormatDiscovery : public QObject {
    Q_OBJECT

    struct Discovery : VideoScene {
        QStringList statuses;
        explicit Discovery(const QList<JsRuntime> &systemRuntimes = {})
            : VideoScene({QStringLiteral("/usr/bin/ffmpeg")}, systemRuntimes)
        {
            QObject::connect(model.get(), &DownloadModel::statusChanged, model.get(),
                             [this] { statuses << model->status(); });
        }
        int analysisRuns() const { return int(engineCalls().filter("--dump-single-json").size()); }
        void analyse(const QString &link)
        {
            model->setUrl(link);
            QVERIFY(model->validURL());
            model->primaryAction();
            QVERIFY(model->isWorking());
            QTRY_VERIFY_WITH_TIMEOUT(!model->isWorking(), 20000);
        }
    };

    static const QString kBotCheck;

private slots:
    void youtubeFallsBackThroughAccessModes_data()
    {
        QTest::addColumn<QString>("modeArgument"); // of the mode that works; empty: none does
        QTest::addColumn<int>("runs");
        QTest::newRow("embedded works") << "web_embedded" << 2;
        QTest::newRow("mobile works") << "mweb" << 3;
        QTest::newRow("nothing works") << "" << 3;
    }
    void youtubeFallsBackThroughAccessModes()
    {
        QFETCH(QString, modeArgument);
        QFETCH(int, runs);
        Discovery d;
        // Every mode but the one that works meets YouTube's bot check.
        d.setEngine(QString("case \"$1\" in --dump-single-json) ;; *) exit 0;; esac\n"
                            "case \"$*\" in *player_client=%1*) cat '%2'; exit 0;; esac\n"
                            "echo '%3' >&2; exit 1")
                        .arg(modeArgument.isEmpty() ? "none" : modeArgument,
                             d.document(videoDocument("yt1", "Clip", combinedFormats())),
                             kBotCheck));
        d.analyse("https://youtu.be/yt1");
        QCOMPARE(d.analysisRuns(), runs);
        QVERIFY(d.statuses.contains("Пробую запасной режим YouTube…"));
        if (modeArgument.isEmpty()) {
            QCOMPARE(d.model->status(), "Не удалось получить варианты");
            QCOMPARE(d.model->errorMessage(), DownloadFailure::explanation(kBotCheck));
            QVERIFY(!d.model->showQualityPicker());
            return;
        }
        QCOMPARE(d.model->status(), "Выберите качество видео");
        QVERIFY(!d.model->errorMessage());
        QVERIFY(d.model->showQualityPicker());
        QCOMPARE(d.model->videoTitle(), "Clip");
        QCOMPARE(d.model->videoID(), "yt1");
        QCOMPARE(d.model->availableQualities().size(), 1);

        // The mode that worked goes with every download of the link.
        d.model->setUrl("https://youtu.be/yt1");
        d.model->startDownload(d.model->availableQualities().first());
        QCOMPARE(d.model->jobs().size(), 1);
        QCOMPARE(d.model->jobs().first()->extractorArguments(),
                 QStringList({"--extractor-args", "youtube:player_client=" + modeArgument}));
        QTRY_COMPARE_WITH_TIMEOUT(d.model->jobs().size(), 0, 20000);
        QVERIFY(d.engineCalls().last().contains("youtube:player_client=" + modeArgument));
    }

    // The refresh retries the engine's and the runtime's installs (both feeds answer 404 here);
    // which diagnostics call for it is DownloadFailure's.
    void refreshesTheEngineOnce_data()
    {
        QTest::addColumn<QString>("afterRefresh"); // the engine's second answer
        QTest::addColumn<bool>("engineVanishes");
        QTest::addColumn<QString>("status");
        QTest::newRow("retry works") << "ok" << false << "Выберите качество видео";
        QTest::newRow("retry fails too") << "fail" << false << "Не удалось получить варианты";
        QTest::newRow("refresh leaves no engine")
            << "fail" << true << "Не удалось обновить поддержку";
    }
    void refreshesTheEngineOnce()
    {
        const QString diagnostic = "ERROR: [vimeo] 1: Unable to extract nsig";
        QFETCH(QString, afterRefresh);
        QFETCH(bool, engineVanishes);
        QFETCH(QString, status);
        Discovery d;
        const QString doc = d.document(videoDocument("v9", "Vimeo clip", combinedFormats()));
        const QString counter = d.dir.filePath("count");
        const QString fail = QString("printf '%1\\n' >&2; exit 1").arg(diagnostic);
        d.setEngine(QString("n=$(cat '%1' 2>/dev/null || echo 0); n=$((n+1)); echo $n > '%1'\n"
                            "if [ $n -ge 2 ]; then %2; fi\n"
                            "%3\n%4")
                        .arg(counter,
                             afterRefresh == "ok" ? QString("cat '%1'; exit 0").arg(doc) : fail,
                             engineVanishes ? "rm -f \"$0\"" : "", fail));
        d.analyse("https://vimeo.com/1");
        QCOMPARE(d.model->status(), status);
        QCOMPARE(d.model->errorText(),
                 afterRefresh == "ok" ? QString() : DownloadFailure::explanation(diagnostic));
        QVERIFY(d.statuses.contains("Обновляю поддержку платформы…"));
        QCOMPARE(d.feed.requestCount(engineReleaseTool().feedPath), 1);
        QCOMPARE(d.feed.requestCount(runtimeReleaseTool().feedPath), 1);
        QCOMPARE(d.analysisRuns(), engineVanishes ? 1 : 2);
        QCOMPARE(d.model->showQualityPicker(), afterRefresh == "ok");
    }

    // The stand-in engine records its arguments: analysis and download alike get the runtime
    // (by its absolute path, before the link) only from a build that knows the options.
    void runtimeOptionsFollowTheEngineBuild_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("runtimeInstalled");
        QTest::addColumn<bool>("told");
        QTest::newRow("new build, installed runtime") << "2025.11.12" << true << true;
        QTest::newRow("older build") << "2025.11.11" << true << false;
        // Only the system's runtimes remain: Debian's Node (20 on the test machine) is too old.
        QTest::newRow("new build, no runtime installed") << "2025.11.12" << false << false;
    }
    void runtimeOptionsFollowTheEngineBuild()
    {
        QFETCH(QString, version);
        QFETCH(bool, runtimeInstalled);
        QFETCH(bool, told);
        Discovery d(systemRuntimeCandidates());
        if (!runtimeInstalled)
            QFile::remove(d.runtimePath());
        d.engineVersion = version;
        d.answerAnalysis(videoDocument("r1", "Clip", combinedFormats()));
        d.analyse("https://www.youtube.com/watch?v=r1");
        QVERIFY(d.model->showQualityPicker());
        d.model->startDownload(d.model->availableQualities().first());
        QTRY_COMPARE_WITH_TIMEOUT(d.model->jobs().size(), 0, 20000);
        const QString tail =
            (told ? "--no-js-runtimes --js-runtimes deno:" + d.runtimePath() + " " : QString())
            + "https://www.youtube.com/watch?v=r1";
        const QStringList calls = d.engineCalls();
        QCOMPARE(calls.size(), 2);
        QVERIFY2(calls.first().endsWith(" " + tail), qPrintable(calls.first()));
        QVERIFY2(calls.last().endsWith(" " + tail), qPrintable(calls.last()));
        QCOMPARE(calls.join(u' ').contains("js-runtimes"), told);
    }

    void listsPublicationVideos()
    {
        Discovery d;
        const QString entry = "{\"id\":\"e%1\",\"title\":\"E%1\",\"formats\":%2%3}";
        const QByteArray json =
            QString("{\"id\":\"pub\",\"title\":\"Pub\",\"entries\":[%1,%2,null,%3,%4]}")
                .arg(entry.arg("1", combinedFormats(), ""), entry.arg("2", "[]", ""),
                     entry.arg("4", mergeableFormats(), ",\"playlist_index\":7"),
                     entry.arg("5",
                               "[{\"format_id\":\"x\",\"ext\":\"flv\",\"vcodec\":\"h264\","
                               "\"acodec\":\"none\"}]",
                               ""))
                .toUtf8();
        d.answerAnalysis(json);
        d.analyse("https://www.instagram.com/p/abc/");
        const QList<PublicationVideo> &videos = d.model->publicationVideos();
        QCOMPARE(videos.size(), 3);
        QCOMPARE(videos.at(0).title, "Видео 1");
        QCOMPARE(videos.at(1).title, "Видео 4");
        QCOMPARE(videos.at(2).title, "Видео 5");
        QCOMPARE(videos.at(0).playlistIndex, 1);
        QCOMPARE(videos.at(1).playlistIndex, 7);
        QCOMPARE(d.model->videoTitle(), "Видео 1");
        QCOMPARE(d.model->jobs().size(), 0);

        d.model->selectPublicationVideo(1);
        QCOMPARE(d.model->selectedPublicationVideo(), 1);
        QCOMPARE(d.model->videoTitle(), "Видео 4");
        QCOMPARE(d.model->videoID(), "e4");
        QVERIFY(d.model->availableQualities().first().requiresMerge());
        d.model->selectPublicationVideo(3); // out of range: ignored
        QCOMPARE(d.model->selectedPublicationVideo(), 1);

        d.model->downloadAllPublicationVideos();
        QCOMPARE(d.model->status(), "Добавлено в загрузки: 2");
        QCOMPARE(d.model->errorText(), "Недоступных роликов пропущено: 1.");
        QCOMPARE(d.model->url(), QString());
        QCOMPARE(d.model->jobs().size(), 2);
        // Newest first; the publication's first video starts first.
        VideoDownloadJob *second = d.model->jobs().at(0);
        QCOMPARE(second->title(), "Видео 4");
        QCOMPARE(second->extractorArguments(), QStringList({"--playlist-items", "7"}));
        QCOMPARE(second->plan().kind, VideoJobPlan::Kind::Merged);
        QCOMPARE(QFileInfo(second->outputPath()).fileName(), "Видео 4 [e4].mp4");
        QCOMPARE(d.model->jobs().at(1)->extractorArguments(),
                 QStringList({"--playlist-items", "1"}));
    }

    void reportsEmptyChoices()
    {
        Discovery d;
        d.answerAnalysis(videoDocument(
            "n1", "Nothing",
            "[{\"format_id\":\"x\",\"ext\":\"flv\",\"vcodec\":\"h264\",\"acodec\":\"none\"}]"));
        d.analyse("https://rutube.ru/video/1/");
        QCOMPARE(d.model->status(), "Готовых вариантов не найдено");
        QCOMPARE(d.model->errorText(), "Платформа не отдала вариантов, которые можно сохранить или "
                                       "объединить на этом компьютере.");
        QVERIFY(!d.model->showQualityPicker());
    }

    void cancelsARunningAnalysis()
    {
        Discovery d;
        const QString pid = d.dir.filePath("pid");
        d.setEngine(QString("echo $$ > '%1'; exec sleep 30").arg(pid));
        d.model->setUrl("https://www.tiktok.com/@a/video/1");
        d.model->primaryAction();
        QTRY_VERIFY_WITH_TIMEOUT(VideoScene::processAlive(pid), 10000);
        QVERIFY(d.model->canCancel());
        // Nothing starts while an analysis runs.
        d.model->startDownload("best", false);
        QCOMPARE(d.model->jobs().size(), 0);
        d.model->primaryAction();
        QCOMPARE(d.analysisRuns(), 1);

        d.model->cancelPreparation();
        QCOMPARE(d.model->status(), "Отменяю…");
        QTRY_VERIFY_WITH_TIMEOUT(!d.model->isWorking(), 10000);
        QCOMPARE(d.model->status(), "Получение вариантов отменено");
        QVERIFY(!d.model->errorMessage());
        QVERIFY(!d.model->canCancel());
        QVERIFY(!VideoScene::processAlive(pid));
    }

    void waitsForAMissingEngine()
    {
        Discovery d;
        QFile::remove(d.enginePath());
        d.model->setUrl("https://x.com/a/status/1");
        d.model->startDownload("best", false);
        QCOMPARE(d.model->jobs().size(), 0);
        QCOMPARE(d.model->status(), "Загрузки подготавливаются…");
        QVERIFY(!d.model->engineReady());
        QCOMPARE(d.model->url(), "https://x.com/a/status/1");
    }
};

const QString TestFormatDiscovery::kBotCheck =
    QString::fromUtf8("ERROR: [youtube] yt1: Sign in to confirm you’re not a bot");

TOVRIN_TEST(TestFormatDiscovery);
#include "test_format_discovery.moc"
