#include "engine/engine_version.h"

#include "app/process/process_runner.h"
#include "engine/engine_arguments.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

std::optional<QDate> parseEngineVersion(const QString &output)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^\s*(\d{4})\.(\d{1,2})\.(\d{1,2}))"));
    const QRegularExpressionMatch match = pattern.match(output);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).toInt());
    if (!date.isValid())
        return std::nullopt;
    return date;
}

std::optional<QString> VersionProbe::versionText(const QString &executable,
                                                 const QStringList &leading)
{
    const QFileInfo info(executable);
    const QString key = info.absoluteFilePath() + u'|' + QString::number(info.size()) + u'|'
                        + QString::number(info.lastModified().toMSecsSinceEpoch());
    std::promise<std::optional<QString>> promise;
    std::shared_future<std::optional<QString>> known;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_known.constFind(key);
        if (it != m_known.constEnd())
            known = *it;
        else
            m_known.insert(key, promise.get_future().share());
    }
    if (known.valid())
        return known.get();
    ProcessRequest request;
    request.program = executable;
    request.arguments = leading;
    request.arguments << QStringLiteral("--version");
    request.keepStandardOutput = true;
    request.standardOutputLimit = 64 * 1024;
    request.timeoutSeconds = m_timeoutSeconds;
    const ProcessResult result = runProcessToEnd(request);
    std::optional<QString> answer;
    if (result.succeeded())
        answer = QString::fromUtf8(result.standardOutput);
    // A program that exited by itself has answered, even with a failure; one that could not
    // start, was stopped or timed out has not, and the next run asks again.
    if (!result.launched || result.timedOut || result.endedBySignal || result.cancelled) {
        std::lock_guard lock(m_mutex);
        m_known.remove(key);
    }
    promise.set_value(answer);
    return answer;
}

EngineCapabilities VersionProbe::capabilities(const QString &engine)
{
    const std::optional<QString> answer =
        versionText(engine, {QString(EngineArguments::kIgnoreConfig)});
    return {answer ? parseEngineVersion(*answer) : std::nullopt};
}
