#pragma once

#include "app/cancel_token.h"

#include <QUrl>

// Whether the network looks usable again for reaching a host, asked now and then while a
// request waits out an outage.
class NetworkReachability {
public:
    virtual ~NetworkReachability() = default;
    // Blocking and short (a few seconds at most); for worker threads, several at once.
    virtual bool looksReachable(const QUrl &url, const CancelToken &cancel) = 0;
};
