#pragma once

#include "app/app_error.h"
#include "app/cancel_token.h"

#include <QString>

// Unpacks a zip archive into an existing, empty folder with libarchive, keeping file names and
// permission bits (set-id and sticky bits dropped). Every entry must land inside the folder: an
// absolute name, a ".." step, a link leading outside, or anything but files, folders and links
// fails the whole archive as a bad release. Blocking; run it on a worker thread.
Status extractZipArchive(const QString &archivePath, const QString &targetFolder,
                         const CancelToken &cancel);

// Whether `name` (an entry name or a link target, relative to `base` which is itself relative
// to the target folder) stays inside the target folder. Exposed for tests.
bool staysInside(const QString &base, const QString &name);
