#pragma once

#include <QString>

// Writes the folder benchmark's data: `files` files of 4 KiB–1 MiB (a fixed pseudo-random
// series) in a tree nested four folders deep under `root`, or all in `root` when `flat`. Files
// are sparse, so generating 2.5 GB takes no time and little disk. Returns the total size, or
// -1 on failure.
qint64 makeTree(const QString &root, int files, bool flat = false);
