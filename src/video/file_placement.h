#pragma once

#include "app/app_error.h"

#include <QSet>
#include <QString>

// Putting a finished file into the user's folder without ever replacing a file there. The work
// folder and the destination are usually on different file systems, where a rename fails, so
// the file is copied into a hidden name in the destination first and then renamed with
// "no replace": two jobs finishing at once, or a file that appeared meanwhile, can never be
// overwritten. Pure functions over paths, safe on any thread.
namespace FilePlacement {

// "NAME (n).EXT" beside `path` (n ≥ 2); the number goes before the last extension.
QString numberedPath(const QString &path, int n);

// Moves `source` to `destination`, or to the first free numbered name beside it when that is
// taken; returns the path used. Nothing is left in the destination folder on failure.
Result<QString> moveWithoutReplacing(const QString &source, const QString &destination);

// The first of `path`, "NAME (2).EXT", … at which nothing exists and whose key (see
// FilePlacement::key) is not in `taken`.
QString firstFreePath(const QString &path, const QSet<QString> &taken);
// The form in which paths are compared for "taken": absolute and clean.
QString key(const QString &path);

} // namespace FilePlacement
