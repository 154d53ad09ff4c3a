#pragma once

#include "app/app_error.h"
#include "app/cancel_token.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// One GET request. Only http and https are followed (redirects included, at most 10) and
// TLS certificates are always verified.
struct HttpRequest {
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    // No byte for this long fails the attempt as timed out.
    double requestTimeoutSeconds = 30;
    // The whole exchange may take at most this long (0: no limit).
    double resourceTimeoutSeconds = 0;
    // get(): a body longer than this fails the request (0: no limit).
    qint64 maxBodyBytes = 0;
    // A network that is down is waited for, up to the resource time-out, inside the call;
    // callers that wait in their own way turn it off.
    bool waitForConnectivity = true;
};

struct HttpResponse {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers; // names as the server sent them
    QByteArray body;                              // empty for downloads to a file
    QUrl finalUrl;                                // after redirects

    // Case-insensitive lookup of the first header with this name.
    std::optional<QByteArray> header(QByteArrayView name) const
    {
        for (const auto &h : headers) {
            if (QByteArrayView(h.first).compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        }
        return std::nullopt;
    }
};

// Why a request produced no response. Transient kinds are the ones worth another attempt.
enum class NetworkErrorKind {
    None,
    Cancelled,
    TimedOut,
    CannotFindHost,
    CannotConnect,
    ConnectionLost,
    NotConnected,
    ResourceUnavailable,
    Tls,
    BadUrl,
    WriteFailed,
    Other,
};

struct NetworkError {
    NetworkErrorKind kind = NetworkErrorKind::Other;
    QString message; // ready to show, Russian

    bool isTransient() const
    {
        switch (kind) {
        case NetworkErrorKind::TimedOut:
        case NetworkErrorKind::CannotFindHost:
        case NetworkErrorKind::CannotConnect:
        case NetworkErrorKind::ConnectionLost:
        case NetworkErrorKind::NotConnected:
        case NetworkErrorKind::ResourceUnavailable:
            return true;
        default:
            return false;
        }
    }
};

// Either a response (of any status) or the reason there is none.
struct HttpResult {
    std::optional<HttpResponse> response;
    NetworkError error;

    bool ok() const { return response.has_value(); }
};

// Blocking HTTP for worker threads: each call returns when the exchange ends or the token
// is cancelled (then with NetworkErrorKind::Cancelled). Never call it on the UI thread.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    // The whole body in memory.
    virtual HttpResult get(const HttpRequest &request, const CancelToken &cancel) = 0;
    // The body streamed into `filePath` (created or truncated); `progress` gets the bytes
    // written so far and the expected total (-1 when unknown), from the calling thread.
    virtual HttpResult download(const HttpRequest &request, const QString &filePath,
                                const std::function<void(qint64 written, qint64 total)> &progress,
                                const CancelToken &cancel) = 0;
};
