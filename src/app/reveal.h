#pragma once

#include "app/platform/desktop_services.h"

// Shows what a history entry produced: a folder is opened, a file is shown selected, a
// vanished path falls back to its parent folder when that still exists; else nothing.
void revealPath(const QString &path, DesktopServices &desktop);
