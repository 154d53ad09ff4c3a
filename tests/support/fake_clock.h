#pragma once

#include "app/platform/clock.h"

// A clock that moves only when the test moves it.
class FakeClock final : public Clock {
public:
    double monotonicSeconds() const override { return monotonic; }
    QDateTime wallTime() const override { return wall; }
    void advance(double seconds)
    {
        monotonic += seconds;
        wall = wall.addMSecs(qint64(seconds * 1000));
    }

    double monotonic = 1000.0;
    QDateTime wall = QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
};
