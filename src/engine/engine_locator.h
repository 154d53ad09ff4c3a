#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Engines installed by package managers, tried after the program's own install, in this order.
QStringList systemEngineCandidates();

// The first candidate that is an existing file the user may execute.
std::optional<QString> firstExecutable(const QStringList &candidates);
