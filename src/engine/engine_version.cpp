#include "engine/engine_version.h"

#include "app/process/process_runner.h"

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

std::optional<QString> VersionProbe::versionText(const QString &executable)
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
    request.arguments = {QStringLiteral("--version")};
    request.keepStandardOutput = true;
    request.standardOutputLimit = 64 * 1024;
    request.timeoutSeconds = kProbeTimeoutSeconds;
    const ProcessResult result = runProcessToEnd(request);
    std::optional<QString> answer;
    if (result.succeeded())
        answer = QString::fromUtf8(result.standardOutput);
    // A program that could not be started is not remembered: the next run may find it fixed.
    if (!result.launched) {
        std::lock_guard lock(m_mutex);
        m_known.remove(key);
    }
    promise.set_value(answer);
    return answer;
}

EngineCapabilities VersionProbe::capabilities(const QString &engine)
{
    const std::optional<QString> answer = versionText(engine);
    return {answer ? parseEngineVersion(*answer) : std::nullopt};
}
