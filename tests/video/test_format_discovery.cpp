#include "support/test_main.h"
#include "video/analysis_job.h"
#include "video/download_failure.h"
#include "video/video_link.h"
#include "video_scene.h"

namespace {

const QString kBotCheck =
    QString::fromUtf8("ERROR: [youtube] yt1: Sign in to confirm you’re not a bot");
const QString kStaleEngine = QStringLiteral("ERROR: [vimeo] 1: Unable to extract nsig");
const QString kFetch = QStringLiteral("Получаю доступные качества…");
const QString kFallback = QStringLiteral("Пробую запасной режим YouTube…");
const QString kRefresh = QStringLiteral("Обновляю поддержку платформы…");
const QString kNoChoices = QStringLiteral("Не удалось получить варианты");

enum class Engine { Present, RemovedByItsRun, Absent };

// One analysis job over the scene's stand-in engine, with every status it showed.
struct Analysis : VideoScene {
    QStringList steps; // without repeats
    std::optional<JobResult> end;
    std::unique_ptr<AnalysisJob> job;

    void start(const QString &link)
    {
        job = std::make_unique<AnalysisJob>(*normalizeVideoLink(link), *engine,
                                            AnalysisEnvironment{});
        QObject::connect(job.get(), &AnalysisJob::stepChanged, job.get(),
                         [this](AnalysisPhase, const QString &status) {
                             if (steps.isEmpty() || steps.last() != status)
                                 steps << status;
                         });
        QObject::connect(job.get(), &Job::finished, job.get(),
                         [this](const JobResult &result) { end = result; });
        job->start();
    }
};

// The stand-in engine's analyses, one answer per run in order: "doc" prints a document of one
// video, "html" a web page; anything else is the diagnostic of a failure. Other calls
// (downloads) wait.
QString answering(const VideoScene &s, const QStringList &answers)
{
    QString script = QString("case \"$1\" in --dump-single-json) ;; *) exec sleep 30;; esac\n"
                             "n=$(cat '%1' 2>/dev/null || echo 0); n=$((n+1)); echo $n > '%1'\n"
                             "case $n in\n")
                         .arg(s.dir.filePath("count"));
    const QString doc = s.document(videoDocument("yt1", "Clip", combinedFormats()));
    for (qsizetype i = 0; i < answers.size(); ++i) {
        const QString &answer = answers.at(i);
        script += QString("%1) ").arg(i + 1)
                  + (answer == "doc"    ? QString("cat '%1'; exit 0;;\n").arg(doc)
                     : answer == "html" ? QString("echo '<html>'; exit 0;;\n")
                                        : QString("printf '%1\\n' >&2; exit 1;;\n").arg(answer));
    }
    return script + "esac\nexit 1";
}

} // namespace

// Format discovery: the analysis's runs through a stand-in engine, and what the model makes of
// what it found.
class TestFormatDiscovery : public QObject {
    Q_OBJECT

private slots:
    // Whole analyses: the statuses shown on the way, how they end, how often the engine ran.
    void runs_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QStringList>("answers"); // of the engine, run by run
        QTest::addColumn<Engine>("engine");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("message"); // empty: success
        QTest::addColumn<VideoAccessMode>("mode");
        const QString yt = "https://youtu.be/yt1";
        const QString vimeo = "https://vimeo.com/1";
        QTest::newRow("mobile mode works")
            << yt << QStringList{kBotCheck, "ERROR: gone", "doc"} << Engine::Present
            << QStringList{kFetch, kFallback, kFetch, kFallback, kFetch} << ""
            << VideoAccessMode::YouTubeMobile;
        QTest::newRow("no mode works")
            << yt << QStringList{kBotCheck, kBotCheck, kBotCheck} << Engine::Present
            << QStringList{kFetch, kFallback, kFetch, kFallback, kFetch, kNoChoices}
            << DownloadFailure::explanation(kBotCheck) << VideoAccessMode::Standard;
        QTest::newRow("refreshed after the fallbacks, in the mode reached")
            << yt << QStringList{kBotCheck, kBotCheck, kStaleEngine, "doc"} << Engine::Present
            << QStringList{kFetch, kFallback, kFetch, kFallback, kFetch, kRefresh, kFetch} << ""
            << VideoAccessMode::YouTubeMobile;
        QTest::newRow("no document: no fallback")
            << yt << QStringList{"html", "doc"} << Engine::Present
            << QStringList{kFetch, kNoChoices}
            << "Не удалось прочитать ответ видеоплатформы: это не документ JSON."
            << VideoAccessMode::Standard;
        QTest::newRow("no fallback outside YouTube")
            << vimeo << QStringList{kBotCheck, "doc"} << Engine::Present
            << QStringList{kFetch, kNoChoices} << DownloadFailure::explanation(kBotCheck)
            << VideoAccessMode::Standard;
        QTest::newRow("refreshed once, and it fails again")
            << vimeo << QStringList{kStaleEngine, kStaleEngine, "doc"} << Engine::Present
            << QStringList{kFetch, kRefresh, kFetch, kNoChoices}
            << DownloadFailure::explanation(kStaleEngine) << VideoAccessMode::Standard;
        QTest::newRow("the refresh leaves no engine")
            << vimeo << QStringList{kStaleEngine, "doc"} << Engine::RemovedByItsRun
            << QStringList{kFetch, kRefresh, "Не удалось обновить поддержку"}
            << DownloadFailure::explanation(kStaleEngine) << VideoAccessMode::Standard;
        QTest::newRow("no engine, and none to install")
            << vimeo << QStringList{} << Engine::Absent
            << QStringList{"Не удалось подготовить загрузки"}
            << "Не удалось загрузить поддержку видеоплатформ. Проверьте интернет-соединение."
            << VideoAccessMode::Standard;
    }
    void runs()
    {
        QFETCH(QString, link);
        QFETCH(QStringList, answers);
        QFETCH(Engine, engine);
        QFETCH(QStringList, steps);
        QFETCH(QString, message);
        QFETCH(VideoAccessMode, mode);
        Analysis a;
        a.setEngine((engine == Engine::RemovedByItsRun ? "rm -f \"$0\"\n" : "")
                    + answering(a, answers));
        if (engine == Engine::Absent)
            QFile::remove(a.enginePath());
        // The first analysis of the program's run prepares the engine first.
        steps.prepend(a.engine->startingStatus());
        a.start(link);
        QTRY_VERIFY_WITH_TIMEOUT(a.end, 20000);
        QCOMPARE(a.steps, steps);
        const QStringList runs = a.engineCalls();
        QCOMPARE(runs.size(), steps.count(kFetch));
        if (message.isEmpty()) {
            QCOMPARE(a.end->outcome, Outcome::Succeeded);
            QCOMPARE(a.job->findings()->mode, mode);
            QCOMPARE(a.job->findings()->metadata.videoID, "yt1");
            QVERIFY(runs.last().contains(EngineArguments::accessModeArguments(mode).join(u' ')));
        } else {
            QCOMPARE(a.end->outcome, Outcome::Failed);
            QCOMPARE(a.end->message, message);
        }
        // A refresh, or a missing engine, tries the install once; the loopback feed has nothing.
        QCOMPARE(a.feed.requestCount(engineReleaseTool().feedPath),
                 int(steps.contains(kRefresh) || engine == Engine::Absent));
    }

    void cancelEndsEveryPhase_data()
    {
        QTest::addColumn<AnalysisPhase>("phase");
        QTest::newRow("preparing the engine") << AnalysisPhase::PreparingEngine;
        QTest::newRow("running the engine") << AnalysisPhase::RunningEngine;
        QTest::newRow("refreshing the engine") << AnalysisPhase::RefreshingEngine;
    }
    void cancelEndsEveryPhase()
    {
        QFETCH(AnalysisPhase, phase);
        Analysis a;
        const QString pid = a.dir.filePath("pid");
        FixtureServer::Fault stall;
        stall.delayBeforeHeadersMs = 60000;
        a.feed.script(engineReleaseTool().feedPath, {stall});
        // A due install makes the first preparation ask the stalled feed.
        if (phase == AnalysisPhase::PreparingEngine)
            a.prefs.setValue(a.engine->installer().tool().lastRefreshKey, a.clock.wall.addDays(-2));
        a.setEngine(phase == AnalysisPhase::RunningEngine
                        ? QString("echo $$ > '%1'; exec sleep 30").arg(pid)
                        : QString("printf '%1\\n' >&2; exit 1").arg(kStaleEngine));
        a.start("https://vimeo.com/1");
        QTRY_COMPARE_WITH_TIMEOUT(a.job->phase(), phase, 20000);
        if (phase == AnalysisPhase::RunningEngine)
            QTRY_VERIFY_WITH_TIMEOUT(VideoScene::processAlive(pid), 10000);
        a.job->cancel();
        QTRY_VERIFY_WITH_TIMEOUT(a.end, 10000);
        QCOMPARE(a.end->outcome, Outcome::Cancelled);
        QCOMPARE(a.end->message, "Получение вариантов отменено");
        QVERIFY(!VideoScene::processAlive(pid));
        QCOMPARE(a.engineCalls().size(), int(phase != AnalysisPhase::PreparingEngine));
    }

    // The model: what the status line and the picker show, and what reaches the downloads.
    void publicationVideosAndTheirDownloads()
    {
        VideoScene s;
        const QString entry = "{\"id\":\"e%1\",\"title\":\"E%1\",\"formats\":%2%3}";
        const QString flv =
            "[{\"format_id\":\"x\",\"ext\":\"flv\",\"vcodec\":\"h264\",\"acodec\":\"none\"}]";
        const QByteArray json =
            QString("{\"id\":\"pub\",\"title\":\"Pub\",\"entries\":[%1,%2,null,%3,%4]}")
                .arg(entry.arg("1", combinedFormats(), ""), entry.arg("2", "[]", ""),
                     entry.arg("4", mergeableFormats(), ",\"playlist_index\":7"),
                     entry.arg("5", flv, ""))
                .toUtf8();
        s.answerAnalysis(json, "exec sleep 30");
        s.analyse("https://www.instagram.com/p/abc/");
        const ChoicesState &choices = s.model->choices().state();
        QCOMPARE(s.model->analysis().state().status, "Выберите качество видео");

        s.model->selectPublicationVideo(1);
        QCOMPARE(choices.title, "Видео 4");
        QVERIFY(choices.lists.withAudio.first().requiresMerge());
        s.model->selectPublicationVideo(3); // out of range: ignored
        QCOMPARE(choices.selectedVideo, 1);
        // A video without choices shows that it has none, not the lists of the one before.
        s.model->selectPublicationVideo(2);
        QCOMPARE(s.model->analysis().state().status, "Готовых вариантов не найдено");
        QCOMPARE(choices.videoId, "e5");
        QVERIFY(choices.lists.isEmpty() && choices.showPicker);

        s.model->downloadAllPublicationVideos();
        const AnalysisState &analysis = s.model->analysis().state();
        QCOMPARE(analysis.status, "Добавлено в загрузки: 2");
        QCOMPARE(analysis.error, "Недоступных роликов пропущено: 1.");
        QVERIFY(!choices.showPicker);
        const QList<VideoDownloadJob *> jobs = s.model->queue().state().jobs;
        QCOMPARE(jobs.size(), 2);
        // Newest first; each carries its item number.
        QCOMPARE(jobs.at(0)->extractorArguments(), QStringList({"--playlist-items", "7"}));
        QCOMPARE(QFileInfo(jobs.at(0)->outputPath()).fileName(), "Видео 4 [e4].mp4");
        QCOMPARE(jobs.at(1)->extractorArguments(), QStringList({"--playlist-items", "1"}));
    }

    // The access mode that worked goes with the link's downloads. Analysis and download alike
    // hand the engine the installed runtime (by its absolute path, before the link); which
    // builds take it is the engine side's to decide.
    void downloadsFollowTheAnalysis()
    {
        VideoScene s({QStringLiteral("/usr/bin/ffmpeg")}, systemRuntimeCandidates());
        s.setEngine(answering(s, {kBotCheck, "doc"}));
        s.analyse("https://www.youtube.com/watch?v=yt1");
        s.model->startDownload(s.model->choices().state().lists.withAudio.first());
        QCOMPARE(s.model->queue().state().jobs.first()->extractorArguments(),
                 QStringList({"--extractor-args", "youtube:player_client=web_embedded"}));
        QTRY_COMPARE_WITH_TIMEOUT(s.engineCalls().size(), 3, 20000);
        const QString runtime = " --no-js-runtimes --js-runtimes deno:"
                                + s.engine->runtimeInstaller()->installedExecutable();
        // The download reads the analysis's document in place of the link.
        const QStringList calls = s.engineCalls();
        for (const QString &call : calls.mid(0, 2))
            QVERIFY2(call.endsWith(runtime + " https://www.youtube.com/watch?v=yt1"),
                     qPrintable(call));
        QVERIFY2(calls.last().contains(runtime + " --load-info-json "), qPrintable(calls.last()));
    }
};

TOVRIN_TEST(TestFormatDiscovery);
#include "test_format_discovery.moc"
