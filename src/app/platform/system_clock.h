#pragma once

#include "app/platform/clock.h"

class SystemClock final : public Clock {
public:
    double monotonicSeconds() const override;
    QDateTime wallTime() const override;
};

// The monotonic reading without an object, for code that only stamps reports.
double monotonicNow();
