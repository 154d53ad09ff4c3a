#include "engine/js_runtime.h"

#include "engine/engine_arguments.h"
#include "engine/engine_locator.h"

#include <QRegularExpression>

QList<JsRuntime> systemRuntimeCandidates()
{
    using Kind = JsRuntime::Kind;
    return {{Kind::Deno, QStringLiteral("/usr/local/bin/deno")},
            {Kind::Deno, QStringLiteral("/usr/bin/deno")},
            {Kind::Node, QStringLiteral("/usr/local/bin/node")},
            {Kind::Node, QStringLiteral("/usr/bin/node")}};
}

std::optional<QVersionNumber> parseRuntimeVersion(JsRuntime::Kind kind, const QString &output)
{
    static const QRegularExpression deno(QStringLiteral(R"(^\s*deno (\d+\.\d+\.\d+)\b)"));
    static const QRegularExpression node(QStringLiteral(R"(^\s*v(\d+\.\d+\.\d+)\b)"));
    const QRegularExpressionMatch match =
        (kind == JsRuntime::Kind::Deno ? deno : node).match(output);
    if (!match.hasMatch())
        return std::nullopt;
    return QVersionNumber::fromString(match.captured(1));
}

bool isUsableRuntimeVersion(JsRuntime::Kind kind, const QVersionNumber &version)
{
    return version
           >= (kind == JsRuntime::Kind::Deno ? QVersionNumber(2, 3, 0) : QVersionNumber(22));
}

std::optional<JsRuntime> firstUsableRuntime(const QList<JsRuntime> &candidates, VersionProbe &probe)
{
    for (const JsRuntime &candidate : candidates) {
        if (!firstExecutable({candidate.path}))
            continue;
        const std::optional<QString> answer = probe.versionText(candidate.path);
        const auto version = answer ? parseRuntimeVersion(candidate.kind, *answer) : std::nullopt;
        if (version && isUsableRuntimeVersion(candidate.kind, *version))
            return candidate;
    }
    return std::nullopt;
}

EngineRunOptions engineRunOptions(VersionProbe &probe, const QString &engine,
                                  const QList<JsRuntime> &runtimes)
{
    EngineRunOptions options;
    options.engine = probe.capabilities(engine);
    // Older builds are not even asked about runtimes: they could not be told to use one.
    if (options.engine.knowsJsRuntimes())
        options.runtimeArguments =
            EngineArguments::runtimeArguments(options.engine, firstUsableRuntime(runtimes, probe));
    return options;
}
