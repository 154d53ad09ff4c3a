#pragma once

#include "engine/engine_version.h"
#include "engine/js_runtime.h"

#include <QString>
#include <QStringList>

#include <optional>

// How the engine is asked to reach YouTube; each mode adds its arguments to the analysis and,
// once it has worked, to every later download of that link.
enum class VideoAccessMode { Standard, YouTubeEmbedded, YouTubeMobile };

// The one place that builds the engine's command lines. The program runs the engine in exactly
// two ways: an analysis that prints one JSON document, and downloads that print progress lines
// in the program's own template.
namespace EngineArguments {

// Tells the program's progress lines from the engine's own output.
inline constexpr QLatin1StringView kProgressMarker{"tovrin:"};

// First on every engine command line: the user's own settings files ("-x" or "--remux-video" in
// ~/.config/yt-dlp/config, /etc/yt-dlp.conf) would otherwise change what our runs produce.
inline constexpr QLatin1StringView kIgnoreConfig{"--ignore-config"};

QStringList accessModeArguments(VideoAccessMode mode);

// "--no-js-runtimes" "--js-runtimes" KIND:PATH (the absolute path) when the build knows the
// options and a runtime is usable; nothing otherwise. The engine would otherwise look on PATH
// only and for Deno only; nothing here lets the runtime reach the network or fetch scripts.
QStringList runtimeArguments(const EngineCapabilities &engine,
                             const std::optional<JsRuntime> &runtime);

// "--ignore-config" "--dump-single-json" "--no-playlist" "--no-warnings", the mode's arguments, the
// runtime arguments, the link last.
QStringList analysis(const QString &link, VideoAccessMode mode,
                     const QStringList &runtimeArguments = {});

// "download:" + the progress marker + downloaded|total|estimated bytes.
QString progressTemplate();

// Output template for a single-step download; the id is bounded because the generic
// extractor uses a whole file name as the id.
inline constexpr QLatin1StringView kOutputTemplate{"%(title)s [%(id).64B].%(ext)s"};

struct DownloadRun {
    enum class Kind {
        SingleStep, // one run for the whole file: "--no-overwrites"
        Track,      // one track of a separate video and sound download: "--no-warnings"
    };
    Kind kind = Kind::SingleStep;
    QString format;               // "--format" selector
    QString output;               // "--output" path or template
    QStringList extraArguments;   // publication item and access mode, before the link
    QStringList runtimeArguments; // see runtimeArguments(), after the extra ones
    QString link;
    // The analysis's document of the video, downloaded from in place of the link.
    std::optional<QString> infoJson;
    // A single-step sound download converts to m4a only when FFmpeg was found: its folder.
    std::optional<QString> extractAudioWithFFmpegIn;
};

// The download command line. Options the engine build does not know are left out (an older
// packaged engine has no "--progress-delta"; the runner then throttles progress itself).
QStringList download(const DownloadRun &run, const EngineCapabilities &engine);

} // namespace EngineArguments
