#pragma once

#include <QString>

// The base name (without extension) of a merged video file: the title with the characters that
// file managers and other systems refuse replaced by "-", control and format characters by "_",
// then " [" + id + "]". The title is cut at a character boundary so that the whole name, with an
// extension of `extensionLength` characters and room for a " (n)" counter, stays within the
// 255 bytes Linux allows per name (and within 180 characters / 200 bytes like other names).
QString mergedBaseName(const QString &title, const QString &mediaID, int extensionLength);
