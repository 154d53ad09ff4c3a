#pragma once

#include "engine/engine_version.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVersionNumber>

#include <optional>

// A JavaScript runtime that the engine hands YouTube's player challenges to.
struct JsRuntime {
    enum class Kind { Deno, Node };
    Kind kind = Kind::Deno;
    QString path;

    bool operator==(const JsRuntime &) const = default;
};

// Runtimes installed by package managers, tried after the program's own: Deno before Node
// (the engine's own default), "/usr/local/bin" before "/usr/bin".
QList<JsRuntime> systemRuntimeCandidates();

// Reads "deno 2.5.6 (…)" or "v22.1.0"; nothing when the answer is not that runtime's.
std::optional<QVersionNumber> parseRuntimeVersion(JsRuntime::Kind kind, const QString &output);

// Deno 2.3.0 or later, Node 22 or later: older ones cannot run the engine's challenge solver.
bool isUsableRuntimeVersion(JsRuntime::Kind kind, const QVersionNumber &version);

// The first candidate that is an executable file of a usable version. Blocks (each version is
// asked once through `probe`); worker threads only.
std::optional<JsRuntime> firstUsableRuntime(const QList<JsRuntime> &candidates,
                                            VersionProbe &probe);

// What one engine run gets beyond its command, decided on the worker thread right before the
// run: the build's capabilities and, for builds that know them, the runtime options.
struct EngineRunOptions {
    EngineCapabilities engine;
    QStringList runtimeArguments; // before the link; empty without a runtime or for older builds
};
EngineRunOptions engineRunOptions(VersionProbe &probe, const QString &engine,
                                  const QList<JsRuntime> &runtimes);
