#pragma once

#include "app/cancel_token.h"
#include "app/platform/http_client.h"
#include "app/platform/network_reachability.h"

#include <QUrl>

#include <atomic>
#include <chrono>

// Waits out a network that is down for the API calls and file transfers of a run: a request
// that failed because the network is down (name resolution failed, no route, network
// unreachable) waits until its host looks reachable again, looking every few seconds, for at
// most the resource time-out since it first failed, and then tries again. Shared by every
// request of the download manager; thread-safe.
class NetworkOutage {
public:
    using Clock = std::chrono::steady_clock;
    enum class Wait {
        Back,    // try again
        GaveUp,  // down for longer than the limit: the last error stands
        Stopped, // the request's token fired
    };

    NetworkOutage(NetworkReachability &reachability, double limitSeconds, double pollSeconds);

    static bool isNetworkDown(const NetworkError &error);

    // After an attempt at `url` failed with the network down; `downSince`: when this request
    // first met the outage.
    Wait waitForNetwork(const QUrl &url, Clock::time_point downSince, const CancelToken &cancel);

    // Some request is waiting for the network right now.
    bool anyWaiting() const { return m_waiting.load() > 0; }

private:
    NetworkReachability &m_reachability;
    const double m_limitSeconds;
    const double m_pollSeconds;
    std::atomic<int> m_waiting{0};
};
