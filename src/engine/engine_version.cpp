#include "engine/engine_version.h"

#include "engine/process_runner.h"

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

EngineCapabilities EngineVersionProbe::capabilities(const QString &executable)
{
    const QFileInfo info(executable);
    const QString key = info.absoluteFilePath() + u'|' + QString::number(info.size()) + u'|'
                        + QString::number(info.lastModified().toMSecsSinceEpoch());
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_known.constFind(key);
        if (it != m_known.constEnd())
            return {*it};
    }
    ProcessRequest request;
    request.program = executable;
    request.arguments = {QStringLiteral("--version")};
    request.keepStandardOutput = true;
    request.standardOutputLimit = 64 * 1024;
    request.timeoutSeconds = kProbeTimeoutSeconds;
    const ProcessResult result = runProcessToEnd(request);
    std::optional<QDate> version;
    if (result.succeeded())
        version = parseEngineVersion(QString::fromUtf8(result.standardOutput));
    // A build that could not be started is not remembered: the next run may find it fixed.
    if (result.launched) {
        std::lock_guard lock(m_mutex);
        m_known.insert(key, version);
    }
    return {version};
}
