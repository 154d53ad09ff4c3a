#pragma once

#include <QSet>
#include <QString>

// Local names for what a run downloads: safe single path components and free locations
// that never overwrite anything. Pure functions over paths, usable from any thread.

// A file-system-safe name: control and format characters, "/" and ":" become "_", spaces
// and full stops are trimmed from both ends, an empty result becomes "quenlow", and the
// name is cut to 180 characters and 200 bytes of UTF-8 at a character boundary, keeping a
// short last extension when it has to cut.
QString safeName(const QString &text);

// The key under which a scan reserves a path: absolute and clean, Unicode-composed (NFC)
// and case-folded, so that names differing only in case or composition collide.
QString reservationKey(const QString &path);

// `path` when nothing exists there, else "NAME (n)" beside it for the first free n from 2
// to 9999, else a fresh UUID. Tested against the disk only.
QString uniqueDirectory(const QString &path);
// Like uniqueDirectory, but a file is free only when its ".part" companion is free too,
// and the number goes before the last extension: "report (2).pdf".
QString uniqueFile(const QString &path);

// The same, also avoiding and recording the keys in `reserved` (a scan's handed-out paths;
// for a file both the name and its ".part" companion are recorded).
QString uniqueDirectory(const QString &path, QSet<QString> &reserved);
QString uniqueFile(const QString &path, QSet<QString> &reserved);
