#pragma once

#include <QDateTime>

// Time as the program sees it: a monotonic reading for rates and time-outs, and the wall
// clock for dates shown to the user. Tests inject a clock they move by hand.
class Clock {
public:
    virtual ~Clock() = default;
    // Seconds on a monotonic clock (system uptime); only differences mean anything.
    virtual double monotonicSeconds() const = 0;
    virtual QDateTime wallTime() const = 0;
};
