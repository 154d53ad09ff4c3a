#include "app/platform/system_network_reachability.h"

#include "app/platform/curl_http_client.h"

#include <QHostAddress>
#include <QNetworkInformation>

#include <cerrno>

namespace {

using Reachability = QNetworkInformation::Reachability;
constexpr long kProbeTimeoutMs = 3000;

int onProbeProgress(void *cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const CancelToken *>(cancel)->isCancelled() ? 1 : 0;
}

// Resolves the host and opens a connection to it, nothing more.
bool probe(const QUrl &url, const CancelToken &cancel)
{
    CURL *handle = curl_easy_init();
    if (!handle)
        return true;
    const QByteArray target = url.toEncoded(QUrl::RemovePath | QUrl::RemoveQuery
                                            | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    curl_easy_setopt(handle, CURLOPT_URL, target.constData());
    CurlSupport::applyTransportRules(handle, {});
    curl_easy_setopt(handle, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, kProbeTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &onProbeProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &cancel);
    const CURLcode code = curl_easy_perform(handle);
    long osErrno = 0;
    curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osErrno);
    curl_easy_cleanup(handle);
    // A TLS failure or a refused connection still means the host answered.
    return code == CURLE_OK || (code == CURLE_COULDNT_CONNECT && osErrno == ECONNREFUSED)
           || code == CURLE_SSL_CONNECT_ERROR;
}

} // namespace

SystemNetworkReachability::SystemNetworkReachability() : m_state(int(Reachability::Unknown))
{
    CurlSupport::ensureInitialized();
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    QNetworkInformation *info = QNetworkInformation::instance();
    m_state = int(info->reachability());
    QObject::connect(info, &QNetworkInformation::reachabilityChanged, &m_context,
                     [this](Reachability reachability) { m_state = int(reachability); });
}

bool SystemNetworkReachability::looksReachable(const QUrl &url, const CancelToken &cancel)
{
    const QHostAddress address(url.host());
    if (url.host() == QLatin1String("localhost") || address.isLoopback())
        return true;
    switch (Reachability(m_state.load())) {
    case Reachability::Online:
        return true;
    case Reachability::Disconnected:
        return false;
    default:
        return probe(url, cancel);
    }
}
