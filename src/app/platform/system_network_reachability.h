#pragma once

#include "app/platform/network_reachability.h"

#include <QObject>

#include <atomic>

// The system's word on the network where it has one (Qt's network information backend, e.g.
// NetworkManager): connected to the internet, or not connected at all. Where it has none or
// does not know, a light probe of the host: its name resolved and a connection opened (a
// refused connection still proves the host reachable). Loopback hosts are always reachable.
// Made on the UI thread; asked from any thread.
class SystemNetworkReachability final : public NetworkReachability {
public:
    SystemNetworkReachability();
    bool looksReachable(const QUrl &url, const CancelToken &cancel) override;

private:
    // Carries the backend's change notifications to m_state while this object lives.
    QObject m_context;
    std::atomic<int> m_state; // a QNetworkInformation::Reachability
};
