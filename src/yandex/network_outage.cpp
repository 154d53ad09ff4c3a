#include "yandex/network_outage.h"

NetworkOutage::NetworkOutage(NetworkReachability &reachability, double limitSeconds,
                             double pollSeconds)
    : m_reachability(reachability), m_limitSeconds(limitSeconds), m_pollSeconds(pollSeconds)
{
}

bool NetworkOutage::isNetworkDown(const NetworkError &error)
{
    // A dropped Wi-Fi shows first as names that no longer resolve.
    return error.kind == NetworkErrorKind::CannotFindHost
           || error.kind == NetworkErrorKind::NotConnected;
}

NetworkOutage::Wait NetworkOutage::waitForNetwork(const QUrl &url, Clock::time_point downSince,
                                                  const CancelToken &cancel)
{
    const auto deadline = downSince
                          + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(m_limitSeconds));
    ++m_waiting;
    Wait outcome = Wait::GaveUp;
    // Every look is at least one poll apart, so a host that resolves again while its requests
    // still fail is not hammered.
    while (Clock::now() + std::chrono::duration<double>(m_pollSeconds) < deadline) {
        if (!cancel.sleepFor(m_pollSeconds)) {
            outcome = Wait::Stopped;
            break;
        }
        if (m_reachability.looksReachable(url, cancel)) {
            outcome = Wait::Back;
            break;
        }
    }
    if (cancel.isCancelled())
        outcome = Wait::Stopped;
    --m_waiting;
    return outcome;
}
