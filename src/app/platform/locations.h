#pragma once

#include <QString>

// The folders the program may use. Tests point all of them into a temporary folder.
class Locations {
public:
    virtual ~Locations() = default;
    // The user's downloads folder when it exists, else the home folder.
    virtual QString downloads() const = 0;
    virtual QString home() const = 0;
    virtual QString temp() const = 0;
    // Per-user application data (on Linux ~/.local/share).
    virtual QString applicationSupport() const = 0;
};
