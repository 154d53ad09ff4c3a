#pragma once

#include <initializer_list>

class QWidget;

// Focus that must not wander. Qt hands the focus of a control that hides (or is deleted) to the
// next control in the Tab chain, where the next key press acts on something the user never
// chose: Space on "Пауза" would then press "Остановить". These helpers give it to a chosen heir.
namespace FocusHandoff {

// Whether the keyboard focus of `widget`'s window is on `widget` or inside it.
bool holdsFocus(const QWidget *widget);
// Shows or hides `widget`; when it hides holding the focus, the first heir that can take the
// focus (visible and enabled) gets it.
void setVisible(QWidget *widget, bool visible, std::initializer_list<QWidget *> heirs);
// Gives the focus to the first heir that can take it; false when none can.
bool passTo(std::initializer_list<QWidget *> heirs);

} // namespace FocusHandoff
