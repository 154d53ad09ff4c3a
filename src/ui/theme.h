#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPalette>

#include <functional>

class QAbstractButton;
class QPushButton;
class QWidget;

// The type scale, emphasis levels and colour roles of the window, in one place, in a light and
// a dark form. Sizes are device-independent pixels; text roles keep their order from large to
// small.
namespace Theme {

enum class TextRole { Title2, Title3, Headline, Subheadline, Caption, Caption2 };
enum class Emphasis { Primary, Secondary, Tertiary, Quaternary };
enum class Scheme { Light, Dark };

QFont font(TextRole role);
// A font of an exact pixel size and weight (the screen header's 24 and 22 point texts).
QFont fixedFont(int pixelSize, QFont::Weight weight);
// Digits of equal width, for numbers that change while the user looks at them.
QFont withTabularDigits(QFont font);

QColor textColor(Emphasis emphasis);

// Each tint in its form for the current scheme.
QColor blue();
QColor red();
QColor green();
QColor orange();
QColor yellow();
QColor white();
QColor windowBackground();
// The fill of a card: a step off the window background, towards the light in the dark form.
QColor cardBackground();
// A colour taken from this theme in either scheme (a tint, or the text colour at some emphasis)
// in its form for the current scheme; any other colour unchanged.
QColor current(const QColor &color);

Scheme scheme();
// Switches the whole running application at once: the palette, every colour that a widget was
// given from this theme, every icon, and whatever follows the change.
void setScheme(Scheme scheme);
// Calls `apply` whenever the scheme has changed, for as long as `context` lives.
void onSchemeChanged(QObject *context, std::function<void()> apply);

// A filled button in the given colour with white text: the screen's main action.
void makeProminent(QPushButton *button, const QColor &color);
// A flat button whose text is drawn in the destructive colour.
void makeDestructive(QAbstractButton *button);

// Applies role font and emphasis colour to a label-like widget.
void style(QWidget *widget, TextRole role, Emphasis emphasis = Emphasis::Primary);

} // namespace Theme
