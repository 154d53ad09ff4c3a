#include "yandex/retry_policy.h"

#include <cmath>

namespace {
constexpr double kMinimumDelay = 1.0;
constexpr double kMaximumDelay = 15.0;
} // namespace

SleepFn realSleep()
{
    return [](double seconds, const CancelToken &cancel) { return cancel.sleepFor(seconds); };
}

double retryDelaySeconds(const std::optional<QByteArray> &retryAfter, int attempt)
{
    double base = std::pow(2.0, attempt - 1);
    if (retryAfter) {
        // An HTTP date or any other text is not a number of seconds: keep the back-off.
        bool ok = false;
        const double seconds = retryAfter->trimmed().toDouble(&ok);
        if (ok)
            base = seconds;
    }
    if (!(base > kMinimumDelay))
        return kMinimumDelay;
    return std::min(base, kMaximumDelay);
}

bool isRetryableStatus(int status)
{
    return status == 408 || status == 429 || (status >= 500 && status <= 599);
}
