// The video side on loopback, side by side with the bare tools, alternating rounds, medians:
// - video-analysis: DownloadModel from primaryAction to the filled choice lists, against
//   `yt-dlp --dump-single-json` of the same DASH manifest;
// - video-merged-job: one merged job (two engine runs, FFmpeg, the move into the folder),
//   against the same two engine runs and the FFmpeg merge run by hand in sequence;
// - video-hls-job (when given an HLS playlist's address, served by nginx): one job of its
//   streamed format, against one engine run of that format by hand;
// - video-loop-stall: three jobs whose stand-in engine prints progress every 10 ms; the longest
//   gap between turns of the main event loop.

#include "app/platform/curl_http_client.h"
#include "app/platform/locations.h"
#include "engine/engine_preparation.h"
#include "engine/release_tool.h"
#include "engine/tool_installer.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/fake_preferences.h"
#include "support/fixture_server.h"
#include "video/download_model.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kRounds = 5;
const QString kPrefix = QStringLiteral("https://rutube.ru/bench/");
const QString kHlsLink = QStringLiteral("https://rutube.ru/hls/clip");

class BenchLocations final : public Locations {
public:
    QString folder;
    QString downloads() const override { return folder + "/downloads"; }
    QString home() const override { return folder; }
    QString temp() const override { return folder + "/tmp"; }
    QString applicationSupport() const override { return folder + "/support"; }
};

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

bool writeScript(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    file.close();
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs the event loop until `done` or the time-out; false on time-out. The loop sleeps between
// events (a 5 ms timer wakes it to check), so it takes no core away from the engine.
bool waitFor(const std::function<bool()> &done, int timeoutMs = 120000)
{
    QElapsedTimer timer;
    timer.start();
    QTimer wake;
    wake.start(5);
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

struct Side {
    QTemporaryDir dir;
    BenchLocations locations;
    CurlHttpClient http;
    FakePreferences prefs;
    FakeClock clock;
    FakeDesktopServices desktop;
    FixtureServer feed;
    std::unique_ptr<EnginePreparation> engine;
    std::unique_ptr<DownloadModel> model;

    // `engineScript`: the text of the installed engine.
    bool open(const QString &engineScript)
    {
        locations.folder = dir.path();
        QDir().mkpath(locations.downloads());
        QDir().mkpath(locations.temp());
        InstallerSetup setup;
        setup.feedBaseUrl = QUrl(feed.baseUrl());
        setup.supportFolder = locations.applicationSupport();
        setup.tempFolder = locations.temp();
        setup.http = &http;
        ToolInstaller installer(engineReleaseTool(), setup);
        QDir().mkpath(installer.toolDirectory());
        if (!writeScript(installer.installedExecutable(), engineScript))
            return false;
        clock.wall = QDateTime::currentDateTimeUtc();
        prefs.setValue(installer.tool().digestKey, QString(64, u'a'));
        prefs.setValue(installer.tool().lastRefreshKey, clock.wall);
        engine = std::make_unique<EnginePreparation>(installer, prefs, clock, QStringList{});
        model = std::make_unique<DownloadModel>(
            DownloadModel::Services{prefs, clock, locations, desktop, *engine});
        return true;
    }
    ~Side()
    {
        model.reset();
        engine.reset();
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir media;
    const QString clip = media.filePath("clip.mp4");
    const QString ffmpeg = QStringLiteral("/usr/bin/ffmpeg");
    const QStringList quiet{"-hide_banner", "-loglevel", "error", "-y"};
    QDir().mkpath(media.filePath("dash"));
    if (!run(ffmpeg,
             quiet
                 + QStringList{"-f", "lavfi", "-i", "testsrc=size=640x360:rate=25:duration=20",
                               "-f", "lavfi", "-i", "sine=frequency=440:duration=20", "-c:v",
                               "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a",
                               "aac", "-shortest", clip})
        || !run(ffmpeg, quiet
                            + QStringList{"-i", clip, "-map", "0:v", "-map", "0:a", "-c", "copy",
                                          "-f", "dash", "-seg_duration", "4",
                                          media.filePath("dash/manifest.mpd")})) {
        std::puts("video: не удалось подготовить ролик");
        return 0;
    }
    FixtureServer server;
    const QDir dash(media.filePath("dash"));
    for (const QString &name : dash.entryList(QDir::Files))
        server.serveFile("/dash/" + name, dash.filePath(name));
    const QString manifest = server.url("/dash/manifest.mpd");

    const QString playlist = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();

    // The program takes platform links only; the wrapper gives the real engine the loopback one.
    Side side;
    if (!side.open(QString("#!/bin/sh\n"
                           "for a in \"$@\"; do shift\n"
                           "  case \"$a\" in %1*) a=\"%2/${a#%1}\";; %3) a='%4';; esac\n"
                           "  set -- \"$@\" \"$a\"\n"
                           "done\n"
                           "exec /usr/bin/yt-dlp \"$@\"\n")
                       .arg(kPrefix, server.baseUrl(), kHlsLink, playlist))) {
        std::puts("video: не удалось подготовить движок");
        return 0;
    }
    DownloadModel &model = *side.model;

    // video-analysis
    std::vector<double> ours, reference;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        if (!run("/usr/bin/yt-dlp",
                 {"--dump-single-json", "--no-playlist", "--no-warnings", manifest}))
            return std::puts("video-analysis: движок не смог разобрать ролик"), 0;
        reference.push_back(timer.elapsed() / 1000.0);

        model.choices().setPickerShown(false);
        model.analysis().setLink(kPrefix + "dash/manifest.mpd");
        timer.restart();
        model.primaryAction();
        if (!waitFor([&] { return !model.analysis().state().isWorking(); })
            || model.choices().state().lists.withAudio.isEmpty())
            return std::puts("video-analysis: анализ не удался"), 0;
        ours.push_back(timer.elapsed() / 1000.0);
    }
    std::printf("video-analysis: %.3f s / %.3f s = %.2f\n", median(ours), median(reference),
                median(ours) / median(reference));

    // video-merged-job
    const DownloadOption option = model.choices().state().lists.withAudio.first();
    if (!option.requiresMerge())
        return std::puts("video-merged-job: нет варианта с объединением"), 0;
    ours.clear();
    reference.clear();
    const QString work = side.dir.filePath("by-hand");
    for (int round = 0; round < kRounds; ++round) {
        QDir(work).removeRecursively();
        QDir().mkpath(work);
        QElapsedTimer timer;
        timer.start();
        const bool handOk =
            run("/usr/bin/yt-dlp", {"--newline", "--no-playlist", "--no-warnings", "-f",
                                    option.video.formatID, "-o", work + "/video.mp4", manifest})
            && run("/usr/bin/yt-dlp", {"--newline", "--no-playlist", "--no-warnings", "-f",
                                       *option.audioFormatID, "-o", work + "/audio.m4a", manifest})
            && run(ffmpeg, quiet
                               + QStringList{"-i", work + "/video.mp4", "-i", work + "/audio.m4a",
                                             "-map", "0:v:0", "-map", "1:a:0", "-c", "copy",
                                             "-movflags", "+faststart", work + "/out.mp4"});
        if (!handOk)
            return std::puts("video-merged-job: ручной прогон не удался"), 0;
        reference.push_back(timer.elapsed() / 1000.0);

        const qsizetype before = model.history().items().size();
        model.analysis().setLink(kPrefix + "dash/manifest.mpd");
        timer.restart();
        model.startDownload(option);
        if (!waitFor([&] { return model.history().items().size() > before; })
            || model.history().items().first().result != DownloadHistoryItem::Result::Completed)
            return std::puts("video-merged-job: задание не удалось"), 0;
        ours.push_back(timer.elapsed() / 1000.0);
        QFile::remove(model.history().items().first().path);
    }
    std::printf("video-merged-job: %.3f s / %.3f s = %.2f\n", median(ours), median(reference),
                median(ours) / median(reference));

    // video-hls-job
    if (!playlist.isEmpty()) {
        model.choices().setPickerShown(false);
        model.analysis().setLink(kHlsLink);
        model.primaryAction();
        if (!waitFor([&] { return !model.analysis().state().isWorking(); })
            || model.choices().state().lists.withAudio.isEmpty())
            return std::puts("video-hls-job: анализ не удался"), 0;
        const DownloadOption streamed = model.choices().state().lists.withAudio.first();
        ours.clear();
        reference.clear();
        for (int round = 0; round < kRounds; ++round) {
            QDir(work).removeRecursively();
            QDir().mkpath(work);
            QElapsedTimer timer;
            timer.start();
            if (!run("/usr/bin/yt-dlp",
                     {"--newline", "--no-playlist", "--no-warnings", "-f", streamed.video.formatID,
                      "-o", work + "/clip.%(ext)s", playlist}))
                return std::puts("video-hls-job: ручной прогон не удался"), 0;
            reference.push_back(timer.elapsed() / 1000.0);

            const qsizetype before = model.history().items().size();
            model.analysis().setLink(kHlsLink);
            timer.restart();
            model.startDownload(streamed);
            if (!waitFor([&] { return model.history().items().size() > before; })
                || model.history().items().first().result != DownloadHistoryItem::Result::Completed)
                return std::puts("video-hls-job: задание не удалось"), 0;
            ours.push_back(timer.elapsed() / 1000.0);
            QFile::remove(model.history().items().first().path);
        }
        std::printf("video-hls-job: %.3f s / %.3f s = %.2f\n", median(ours), median(reference),
                    median(ours) / median(reference));
    }

    // video-loop-stall
    std::vector<double> stalls;
    for (int round = 0; round < 3; ++round) {
        Side busy;
        if (!busy.open("#!/bin/sh\n"
                       "if [ \"$1\" = \"--version\" ]; then echo 2025.11.12; exit 0; fi\n"
                       "i=0; while [ $i -lt 300 ]; do\n"
                       "  echo \"tovrin:$((i * 10000))|3000000|NA\"; i=$((i+1)); sleep 0.01\n"
                       "done\n"
                       "exit 1\n"))
            return std::puts("video-loop-stall: не удалось подготовить движок"), 0;
        for (int i = 0; i < 3; ++i) {
            busy.model->analysis().setLink(kPrefix + QString::number(i));
            busy.model->startDownload("best", false, DownloadKind::Video);
        }
        QElapsedTimer gap;
        gap.start();
        qint64 longest = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout,
                         [&] { longest = std::max(longest, gap.restart()); });
        tick.start(2);
        gap.restart();
        waitFor([&] { return !busy.model->queue().hasUnfinishedJobs(); });
        tick.stop();
        stalls.push_back(double(longest));
    }
    std::printf("video-loop-stall: %.0f ms\n", median(stalls));
    return 0;
}
