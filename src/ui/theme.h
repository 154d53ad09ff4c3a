#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QAbstractButton;
class QPushButton;
class QWidget;

// The type scale, emphasis levels and colour roles of the window, in one place. Sizes are
// device-independent pixels; text roles keep their order from large to small.
namespace Theme {

enum class TextRole { Title2, Title3, Headline, Subheadline, Caption, Caption2 };
enum class Emphasis { Primary, Secondary, Tertiary, Quaternary };

QFont font(TextRole role);
// A font of an exact pixel size and weight (the screen header's 24 and 22 point texts).
QFont fixedFont(int pixelSize, QFont::Weight weight);
// Digits of equal width, for numbers that change while the user looks at them.
QFont withTabularDigits(QFont font);

QColor textColor(Emphasis emphasis);

QColor blue();
QColor red();
QColor green();
QColor orange();
QColor yellow();
QColor white();
QColor windowBackground();

// A filled button in the given colour with white text: the screen's main action.
void makeProminent(QPushButton *button, const QColor &color);
// A flat button whose text is drawn in the destructive colour.
void makeDestructive(QAbstractButton *button);

// Applies role font and emphasis colour to a label-like widget.
void style(QWidget *widget, TextRole role, Emphasis emphasis = Emphasis::Primary);

} // namespace Theme
