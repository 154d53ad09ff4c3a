#include "app/platform/system_clock.h"

#include <chrono>

double monotonicNow()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double SystemClock::monotonicSeconds() const
{
    return monotonicNow();
}

QDateTime SystemClock::wallTime() const
{
    return QDateTime::currentDateTimeUtc();
}
