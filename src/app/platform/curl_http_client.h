#pragma once

#include "app/platform/http_client.h"

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <mutex>
#include <vector>

// The program's HTTP client on libcurl's easy interface: blocking calls for worker threads,
// safe to use from several threads at once. Idle handles are kept so that calls to the same
// host reuse their connections. Every user of HTTP in the program (the cloud API, the engine
// release feed and download) goes through it or through CurlSupport's shared settings.
class CurlHttpClient final : public HttpClient {
public:
    // `caBundlePath` empty: the system's trusted certificates; otherwise only the CAs in
    // that PEM file are trusted (tests use a throw-away CA). Verification is never off.
    explicit CurlHttpClient(QString caBundlePath = {});
    ~CurlHttpClient() override;

    CurlHttpClient(const CurlHttpClient &) = delete;
    CurlHttpClient &operator=(const CurlHttpClient &) = delete;

    HttpResult get(const HttpRequest &request, const CancelToken &cancel) override;
    // Only a 2xx body goes into the file; any other status leaves the file empty and keeps
    // (the first 64 KiB of) its body in the response, so an error page never becomes a file.
    HttpResult download(const HttpRequest &request, const QString &filePath,
                        const std::function<void(qint64 written, qint64 total)> &progress,
                        const CancelToken &cancel) override;

private:
    struct Exchange;
    HttpResult performWithConnectivityWait(const HttpRequest &request, Exchange &exchange,
                                           const CancelToken &cancel);
    HttpResult performOnce(const HttpRequest &request, Exchange &exchange,
                           const CancelToken &cancel);
    CURL *acquireHandle();
    void releaseHandle(CURL *handle);

    QByteArray m_caBundlePath;
    std::mutex m_mutex;
    std::vector<CURL *> m_idleHandles;
};

// What every curl handle of the program shares: one global initialisation, the transport
// rules and the single translation of curl's result codes.
namespace CurlSupport {
// curl_global_init exactly once per process, before the first handle is made.
void ensureInitialized();
// Only http and https (redirects included, at most 10), certificate and host verification
// on, signals off, and the injected CA bundle when there is one.
void applyTransportRules(CURL *handle, const QByteArray &caBundlePath);
// Time-outs as the program means them: `requestTimeoutSeconds` of silence (connecting
// included) fails the attempt as timed out; `resourceTimeoutSeconds` (0: none) bounds it all.
void applyTimeouts(CURL *handle, double requestTimeoutSeconds, double resourceTimeoutSeconds);
// The one place where curl's result codes become NetworkErrorKind and Russian messages.
// `osErrno` is CURLINFO_OS_ERRNO of the failed transfer (0 when unknown).
NetworkError translate(CURLcode code, long osErrno);
} // namespace CurlSupport
