#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// Named symbol icons drawn in one colour. The SVGs are compiled into the program, so the
// window looks the same on a desktop without an icon theme.
namespace Icons {

// `name` is the symbol's name, e.g. "folder.fill"; an invalid colour means the text colour. A
// colour from the theme is drawn in its form for the current scheme.
// The icon is drawn when painted, so it follows a change of scheme by itself.
QIcon icon(const QString &name, const QColor &color = QColor());
// Drawn once per colour and size; a label showing one is redrawn when the scheme changes.
QPixmap pixmap(const QString &name, const QColor &color, int size, qreal devicePixelRatio = 1.0);
bool exists(const QString &name);
// The program's own icon, in its colours.
QIcon appIcon();

} // namespace Icons
