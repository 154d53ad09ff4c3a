#pragma once

#include "app/cancel_token.h"

#include <QByteArray>

#include <functional>
#include <optional>

// Waits between attempts. Returns false when the wait ended because `cancel` fired. The real
// one sleeps on the token; tests inject one that records the asked delays and waits less.
using SleepFn = std::function<bool(double seconds, const CancelToken &cancel)>;
SleepFn realSleep();

// The wait before attempt `attempt` + 1 (attempts count from 1): the server's Retry-After
// when it is a plain number of seconds, else 2^(attempt-1); never below 1 s nor above 15 s.
double retryDelaySeconds(const std::optional<QByteArray> &retryAfter, int attempt);

// Statuses that say "try again later": 408, 429 and 5xx.
bool isRetryableStatus(int status);
