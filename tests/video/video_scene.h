#pragma once

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

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The start of a stand-in engine or FFmpeg: it knows its "--output" value as $out and its last
// argument as $last; `place` writes what the real engine would for a video "Clip" with the id
// "abc", and `hold` records the stand-in's pid in `folder`/held and blocks until `folder`/go
// appears, leaving `folder`/released behind.
inline QString standInShell(const QString &folder)
{
    return QStringLiteral(R"sh(#!/bin/sh
for a in "$@"; do [ "$prev" = --output ] && out="$a"; prev="$a"; last="$a"; done
hold() { echo $$ > '%1/held'; while [ ! -f '%1/go' ]; do sleep 0.05; done; touch '%1/released'; }
place() { printf media > "$(printf '%s' "$out" | sed 's/%(title).150B/Clip/; s/%(id).64B/abc/; s/%(ext)s/mp4/')"; }
)sh")
        .arg(folder);
}

// Separate downloads and temporary folders, so a test can tell what a job left where.
class SceneLocations final : public Locations {
public:
    QString downloadsFolder;
    QString tempFolder;
    QString supportFolder;
    QString homeFolder;
    QString downloads() const override { return downloadsFolder; }
    QString home() const override { return homeFolder; }
    QString temp() const override { return tempFolder; }
    QString applicationSupport() const override { return supportFolder; }
};

// A DownloadModel over a stand-in engine (and, when asked for, a stand-in Deno) installed where
// the program installs its own, marked as refreshed today (so no test touches a network unless
// it asks for a refresh, which then meets a loopback feed that answers 404). Each test writes
// the engine's behaviour as shell.
struct VideoScene {
    QTemporaryDir dir;
    FixtureServer feed;
    CurlHttpClient http;
    FakePreferences prefs;
    FakeClock clock;
    FakeDesktopServices desktop;
    SceneLocations locations;
    std::unique_ptr<EnginePreparation> engine;
    DownloadModelOptions options;
    std::unique_ptr<DownloadModel> model; // goes before the engine it uses
    QString engineLog = dir.filePath("engine-calls.log");

    // `systemRuntimes`: none for an engine without a runtime; otherwise the Deno is installed
    // and these package-manager runtimes are tried after it.
    explicit VideoScene(QStringList ffmpegCandidates = {QStringLiteral("/usr/bin/ffmpeg")},
                        std::optional<QList<JsRuntime>> systemRuntimes = std::nullopt)
    {
        locations.downloadsFolder = dir.filePath("downloads");
        locations.tempFolder = dir.filePath("tmp");
        locations.supportFolder = dir.filePath("support");
        locations.homeFolder = dir.filePath("home");
        QDir().mkpath(locations.downloadsFolder);
        QDir().mkpath(locations.tempFolder);
        clock.wall = QDateTime::currentDateTimeUtc();

        const InstallerSetup setup{
            QUrl(feed.baseUrl()), locations.supportFolder, locations.tempFolder, &http, {}};
        const ToolInstaller installer(engineReleaseTool(), setup);
        const ToolInstaller runtime(runtimeReleaseTool(), setup);
        for (const ToolInstaller &tool : {installer, runtime}) {
            QDir().mkpath(tool.toolDirectory());
            prefs.setValue(tool.tool().digestKey, QString(64, u'a'));
            prefs.setValue(tool.tool().lastRefreshKey, clock.wall);
        }
        std::optional<RuntimeSetup> runtimeSetup;
        if (systemRuntimes) {
            writeScript(runtime.installedExecutable(), "#!/bin/sh\necho 'deno 2.5.6 (stable)'\n");
            runtimeSetup = RuntimeSetup{runtime, *systemRuntimes};
        }
        engine = std::make_unique<EnginePreparation>(installer, prefs, clock, QStringList{},
                                                     runtimeSetup);
        setEngine(QStringLiteral("exit 0"));

        options.ffmpegCandidates = std::move(ffmpegCandidates);
        options.refreshIntervalMs = 100;
        startModel();
    }

    // A new model, as a new start of the program makes.
    void startModel()
    {
        model.reset();
        model = std::make_unique<DownloadModel>(
            DownloadModel::Services{prefs, clock, locations, desktop, *engine}, options);
    }

    // Analyses the link through the model and waits for the end.
    void analyse(const QString &link) const
    {
        model->analysis().setLink(link);
        model->primaryAction();
        QVERIFY(model->analysis().state().isWorking());
        QTRY_VERIFY_WITH_TIMEOUT(!model->analysis().state().isWorking(), 60000);
    }

    QString enginePath() const { return engine->installer().installedExecutable(); }

    // The engine answers "--version" as a late-2025 build, logs every other call's arguments
    // after "--ignore-config" (one line per call), then runs `body` in the stand-in shell.
    void setEngine(const QString &body) const
    {
        writeScript(enginePath(),
                    standInShell(dir.path())
                        + QString("[ \"$1\" = --ignore-config ] && shift\n"
                                  "[ \"$1\" = --version ] && echo 2025.11.12 && exit 0\n"
                                  "echo \"$*\" >> '%1'\n")
                              .arg(engineLog)
                        + body + u'\n');
    }

    // A file holding this engine document, for the engine to print.
    QString document(const QByteArray &json) const
    {
        const QString path = dir.filePath(QString("doc-%1.json").arg(qHash(json)));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(json);
        return path;
    }
    // Analyses print `json`; any other call runs `otherwise`.
    void answerAnalysis(const QByteArray &json, const QString &otherwise = "exit 0") const
    {
        setEngine(QString("case \"$1\" in --dump-single-json) cat '%1'; exit 0;; esac\n%2")
                      .arg(document(json), otherwise));
    }

    static void writeScript(const QString &path, const QString &text)
    {
        QFile file(path + QStringLiteral(".new"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        file.close();
        QFile::setPermissions(file.fileName(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // Replaced by rename: a running copy of the old script keeps its own file.
        QVERIFY(::rename(QFile::encodeName(file.fileName()).constData(),
                         QFile::encodeName(path).constData())
                == 0);
    }

    QStringList engineCalls() const
    {
        QFile file(engineLog);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QStringList downloadsEntries() const { return entries(locations.downloadsFolder); }

    // Whether a process whose id the script wrote into `pidFile` still runs; a zombie does not
    // (the stand-in's parent reaps it, the group is gone).
    static bool processAlive(const QString &pidFile)
    {
        QFile file(pidFile);
        const int id = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
        QFile stat(QString("/proc/%1/stat").arg(id));
        const QByteArray text = id > 0 && stat.open(QIODevice::ReadOnly) ? stat.readAll() : "";
        const qsizetype close = text.lastIndexOf(')');
        return close > 0 && text.mid(close + 2, 1) != "Z";
    }
};

// An H.264 MP4 video track "v1", as the picker hands it to a merged download.
inline VideoQuality mp4VideoTrack()
{
    VideoQuality video;
    video.formatID = QStringLiteral("v1");
    video.ext = QStringLiteral("mp4");
    video.videoCodec = QStringLiteral("avc1");
    return video;
}

// One engine document with a single video: `formats` is the JSON array text.
inline QByteArray videoDocument(const QString &id, const QString &title, const QString &formats)
{
    return QStringLiteral("{\"id\":\"%1\",\"title\":\"%2\",\"formats\":%3}")
        .arg(id, title, formats)
        .toUtf8();
}

// A video-only H.264 MP4 format and an m4a sound format: the picker offers a merged option.
inline QString mergeableFormats()
{
    return QStringLiteral(
        "[{\"format_id\":\"v1\",\"ext\":\"mp4\",\"height\":720,\"vcodec\":\"avc1.64001f\","
        "\"acodec\":\"none\",\"tbr\":1000},"
        "{\"format_id\":\"a1\",\"ext\":\"m4a\",\"vcodec\":\"none\",\"acodec\":\"mp4a.40.2\","
        "\"abr\":128}]");
}

// One MP4 format with both tracks: the picker offers a direct option.
inline QString combinedFormats()
{
    return QStringLiteral("[{\"format_id\":\"18\",\"ext\":\"mp4\",\"height\":360,"
                          "\"vcodec\":\"avc1\",\"acodec\":\"mp4a.40.2\"}]");
}
