#pragma once

#include "app/platform/clock.h"

// A clock that stands still unless a test sets it.
class FakeClock final : public Clock {
public:
    double monotonicSeconds() const override { return monotonic; }
    QDateTime wallTime() const override { return wall; }

    double monotonic = 1000.0;
    QDateTime wall = QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
};
