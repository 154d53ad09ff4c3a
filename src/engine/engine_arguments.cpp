#include "engine/engine_arguments.h"

#include <QFileInfo>

namespace EngineArguments {

QStringList accessModeArguments(VideoAccessMode mode)
{
    switch (mode) {
    case VideoAccessMode::Standard:
        return {};
    case VideoAccessMode::YouTubeEmbedded:
        return {QStringLiteral("--extractor-args"),
                QStringLiteral("youtube:player_client=web_embedded")};
    case VideoAccessMode::YouTubeMobile:
        return {QStringLiteral("--extractor-args"), QStringLiteral("youtube:player_client=mweb")};
    }
    return {};
}

QStringList runtimeArguments(const EngineCapabilities &engine,
                             const std::optional<JsRuntime> &runtime)
{
    if (!engine.knowsJsRuntimes() || !runtime)
        return {};
    const QString kind =
        runtime->kind == JsRuntime::Kind::Deno ? QStringLiteral("deno") : QStringLiteral("node");
    return {QStringLiteral("--no-js-runtimes"), QStringLiteral("--js-runtimes"),
            kind + u':' + QFileInfo(runtime->path).absoluteFilePath()};
}

QStringList analysis(const QString &link, VideoAccessMode mode, const QStringList &runtimeArguments)
{
    QStringList args{kIgnoreConfig, QStringLiteral("--dump-single-json"),
                     QStringLiteral("--no-playlist"), QStringLiteral("--no-warnings")};
    args << accessModeArguments(mode) << runtimeArguments << link;
    return args;
}

QString progressTemplate()
{
    return QStringLiteral("download:") + kProgressMarker
           + QStringLiteral("%(progress.downloaded_bytes)s|%(progress.total_bytes)s|"
                            "%(progress.total_bytes_estimate)s");
}

QStringList download(const DownloadRun &run, const EngineCapabilities &engine)
{
    QStringList args{kIgnoreConfig, QStringLiteral("--newline"), QStringLiteral("--no-playlist")};
    args << (run.kind == DownloadRun::Kind::SingleStep ? QStringLiteral("--no-overwrites")
                                                       : QStringLiteral("--no-warnings"));
    // By default the engine skips a fragment it cannot get and calls the file with a hole in
    // it finished.
    args << QStringLiteral("--abort-on-unavailable-fragments");
    // A track goes straight into our own FFmpeg merge, which writes a fresh container; the
    // engine's repair of the track's container would be a whole extra copy, redone at once.
    if (run.kind == DownloadRun::Kind::Track)
        args << QStringLiteral("--fixup") << QStringLiteral("never");
    if (engine.knowsProgressDelta())
        args << QStringLiteral("--progress-delta") << QStringLiteral("0.5");
    args << QStringLiteral("--progress-template") << progressTemplate();
    args << QStringLiteral("--format") << run.format;
    args << QStringLiteral("--output") << run.output;
    args << run.extraArguments << run.runtimeArguments;
    if (run.infoJson)
        args << QStringLiteral("--load-info-json") << *run.infoJson;
    else
        args << run.link;
    if (run.kind == DownloadRun::Kind::SingleStep && run.extractAudioWithFFmpegIn) {
        args << QStringLiteral("--extract-audio") << QStringLiteral("--audio-format")
             << QStringLiteral("m4a") << QStringLiteral("--ffmpeg-location")
             << *run.extractAudioWithFFmpegIn;
    }
    return args;
}

} // namespace EngineArguments
