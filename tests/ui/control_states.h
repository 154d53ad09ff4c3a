#pragma once

#include <QAction>
#include <QStringList>
#include <QWidget>

#include <variant>

// What a screen offers, in one line: each visible control's name, in brackets when it is
// disabled; hidden ones are left out. One comparison pins every control of a phase.
using Control = std::pair<const char *, std::variant<QWidget *, QAction *>>;

inline QString controlStates(std::initializer_list<Control> controls)
{
    QStringList shown;
    for (const auto &[name, control] : controls) {
        const auto [visible, enabled] =
            std::visit([](auto *c) { return std::pair(c->isVisible(), c->isEnabled()); }, control);
        if (visible)
            shown << (enabled ? QString::fromLatin1(name) : QStringLiteral("(%1)").arg(name));
    }
    return shown.join(u' ');
}
