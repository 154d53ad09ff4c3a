#pragma once

#include "app/app_error.h"
#include "app/cancel_token.h"

#include <QString>

// SHA-256 of a file's bytes as 64 lower-case hexadecimal characters. Blocking; the installer
// calls it on its worker thread, never on the UI thread.
Result<QString> sha256OfFile(const QString &path, const CancelToken &cancel);
