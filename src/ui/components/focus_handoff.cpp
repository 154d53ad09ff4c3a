#include "ui/components/focus_handoff.h"

#include <QWidget>

namespace FocusHandoff {

bool holdsFocus(const QWidget *widget)
{
    // The window's focus widget, not hasFocus(): it holds while the window is inactive too.
    const QWidget *focus = widget->window()->focusWidget();
    return focus && (focus == widget || widget->isAncestorOf(focus));
}

bool passTo(std::initializer_list<QWidget *> heirs)
{
    for (QWidget *heir : heirs) {
        if (heir && heir->isVisibleTo(heir->window()) && heir->isEnabled()) {
            heir->setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    return false;
}

void setVisible(QWidget *widget, bool visible, std::initializer_list<QWidget *> heirs)
{
    if (!visible && widget->isVisibleTo(widget->window()) && holdsFocus(widget))
        passTo(heirs);
    widget->setVisible(visible);
}

} // namespace FocusHandoff
