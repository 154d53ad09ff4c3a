#include "video/media_merger.h"

#include "app/file_names.h"
#include "app/process/process_runner.h"
#include "video/ffmpeg_locator.h"

#include <QDir>
#include <QFileInfo>

namespace MediaMerger {

namespace {

QStringList arguments(const QString &video, const QString &audio, const QString &output)
{
    QStringList args{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                     QStringLiteral("error"),        QStringLiteral("-y"),
                     QStringLiteral("-i"),           video,
                     QStringLiteral("-i"),           audio,
                     QStringLiteral("-map"),         QStringLiteral("0:v:0"),
                     QStringLiteral("-map"),         QStringLiteral("1:a:0"),
                     QStringLiteral("-c"),           QStringLiteral("copy")};
    if (QFileInfo(output).suffix().toLower() == QLatin1String("mp4"))
        args << QStringLiteral("-movflags") << QStringLiteral("+faststart");
    args << output;
    return args;
}

} // namespace

Status merge(const QString &video, const QString &audio, const QString &output, const Setup &setup)
{
    const std::optional<QString> ffmpeg = FFmpeg::executablePath(setup.ffmpegCandidates);
    if (!ffmpeg)
        return AppError(QStringLiteral("Не найден встроенный FFmpeg"), ErrorKind::Process);

    ProcessRequest request;
    request.program = *ffmpeg;
    request.arguments = arguments(video, audio, output);
    request.groups = setup.processGroups;
    const ProcessResult result = runProcessToEnd(request, setup.started);
    if (!result.launched)
        return AppError(result.launchError, ErrorKind::Process);
    if (result.succeeded())
        return Done{};
    // FFmpeg at log level "error" prints only what went wrong; it is shown as it stands.
    const QString text = result.diagnostic.trimmed();
    return AppError(text.isEmpty() ? QStringLiteral("FFmpeg не смог объединить дорожки") : text,
                    ErrorKind::Process);
}

QString availableMKVURL(const QString &path)
{
    const QFileInfo info(path);
    return uniqueFile(info.dir().filePath(info.completeBaseName() + QStringLiteral(".mkv")));
}

} // namespace MediaMerger
