#pragma once

#include <QString>

#include <functional>

// Desktop notifications, as the program sends them. The real implementation speaks to the
// desktop's notification service; the core only holds this interface.
class Notifications {
public:
    virtual ~Notifications() = default;
    // Shows one notice. Where the desktop offers actions and `showInFolder` is set, the notice
    // carries "Показать в папке", which calls it. Never blocks; where no service answers,
    // nothing is shown.
    virtual void notify(const QString &title, const QString &body,
                        std::function<void()> showInFolder = {}) = 0;
};
