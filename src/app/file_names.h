#pragma once

#include "app/app_error.h"

#include <QSet>
#include <QString>

// Every local name the program gives to what it downloads, for both sides: safe single path
// components, free locations that never overwrite anything (on disk, or reserved by work still
// running), and the move that puts a finished file in place without ever replacing one.
// Free functions over paths, usable from any thread.

// Linux allows 255 bytes per name; names keep well within that so that ".part" companions and
// " (n)" counters still fit.
inline constexpr int kMaxNameCharacters = 180;
inline constexpr qsizetype kMaxNameBytes = 200;

// Control, format and lone surrogate characters: invisible, and not writable as UTF-8 names.
bool isInvisibleCharacter(char32_t codePoint);

// The longest prefix of whole user-perceived characters (an accent stays with its letter, an
// emoji is never split) within both limits.
QString cutToFit(const QString &text, int maxCharacters, qsizetype maxBytes);

// A file-system-safe name: invisible characters, "/" and ":" become "_", spaces and full stops
// are trimmed from both ends, an empty result becomes "quenlow", and the name is cut to
// kMaxNameCharacters / kMaxNameBytes at a character boundary, keeping a last extension of up to
// 16 characters when it has to cut.
QString safeName(const QString &text);

// The key under which a path counts as taken: absolute and clean, Unicode-composed (NFC) and
// case-folded, so that names differing only in case or composition collide.
QString reservationKey(const QString &path);

// "NAME (n).EXT" beside `path` (the number before the last extension); for folders the number
// ends the whole name: "NAME.d (n)".
QString numberedFile(const QString &path, int n);
QString numberedDirectory(const QString &path, int n);

// `path` when nothing exists there (a dangling link counts as something) and its key is not in
// `reserved`, else the first free numbered name from 2 to 9999, else a fresh UUID beside it.
// A file is free only when its ".part" companion is free too.
QString uniqueDirectory(const QString &path, const QSet<QString> &reserved = {});
QString uniqueFile(const QString &path, const QSet<QString> &reserved = {});

// The same, and the chosen path is recorded in `reserved` (for a file, its ".part" too), so a
// scan that plans many names in a row never hands out one twice.
QString reserveDirectory(const QString &path, QSet<QString> &reserved);
QString reserveFile(const QString &path, QSet<QString> &reserved);
// The same as if the folder were empty: only `reserved` counts, not the disk. A scan into a
// folder that an earlier scan filled gives the earlier scan's names again.
QString reserveDirectoryAsIfEmpty(const QString &path, QSet<QString> &reserved);
QString reserveFileAsIfEmpty(const QString &path, QSet<QString> &reserved);

// Renames `from` to `to` unless something exists at `to` (RENAME_NOREPLACE; on file systems
// without it a hard link, which refuses a taken name just the same, then removing `from`).
// 0, or the errno of the failure (EEXIST when taken).
int renameWithoutReplacing(const QString &from, const QString &to);

// Whether a write or rename failed for want of space: the disk is full, or the user's quota is.
bool isDiskFull(int error);
