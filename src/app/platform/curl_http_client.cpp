#include "app/platform/curl_http_client.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cmath>

namespace {

constexpr qsizetype kErrorBodyLimit = 64 * 1024;
constexpr long kMaxRedirects = 10;
constexpr long kDownloadBufferSize = 512 * 1024;
// How long to wait between attempts while the network is down.
constexpr double kConnectivityPollSeconds = 1.0;

bool isSuccess(long status)
{
    return status >= 200 && status < 300;
}

} // namespace

// One call's state, seen by the curl callbacks of that call only.
struct CurlHttpClient::Exchange {
    CURL *handle = nullptr;
    const CancelToken *cancel = nullptr;
    HttpResponse response;
    // Download mode: the target file and its progress callback.
    QFile *file = nullptr;
    const std::function<void(qint64, qint64)> *progress = nullptr;
    qint64 written = 0;
    qint64 maxBodyBytes = 0;
    bool writeFailed = false;
    bool tooLarge = false;

    void resetForAttempt()
    {
        response = HttpResponse();
        written = 0;
        writeFailed = false;
        tooLarge = false;
        if (file) {
            file->resize(0);
            file->seek(0);
        }
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *user)
    {
        auto *self = static_cast<Exchange *>(user);
        const size_t length = size * count;
        const QByteArray line = QByteArray(data, qsizetype(length)).trimmed();
        if (line.startsWith("HTTP/")) {
            // Each response of a redirect chain starts over; only the last one counts.
            self->response.headers.clear();
            const QList<QByteArray> parts = line.split(' ');
            self->response.status = parts.size() > 1 ? parts.at(1).toInt() : 0;
            return length;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            self->response.headers.append(
                {line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        return length;
    }

    static size_t onBody(char *data, size_t size, size_t count, void *user)
    {
        auto *self = static_cast<Exchange *>(user);
        const size_t length = size * count;
        long status = 0;
        curl_easy_getinfo(self->handle, CURLINFO_RESPONSE_CODE, &status);
        if (!self->file || !isSuccess(status)) {
            if (self->file && self->response.body.size() >= kErrorBodyLimit)
                return length; // an error page's tail is of no use; drain it
            if (self->maxBodyBytes > 0) {
                // An announced length over the bound ends the exchange at its first bytes.
                curl_off_t announced = -1;
                curl_easy_getinfo(self->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
                if (announced > self->maxBodyBytes
                    || self->response.body.size() + qint64(length) > self->maxBodyBytes) {
                    self->tooLarge = true;
                    return 0;
                }
            }
            self->response.body.append(data, qsizetype(length));
            return length;
        }
        if (self->file->write(data, qint64(length)) != qint64(length)) {
            self->writeFailed = true;
            return 0;
        }
        self->written += qint64(length);
        if (self->progress && *self->progress) {
            curl_off_t total = -1;
            curl_easy_getinfo(self->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
            (*self->progress)(self->written, total >= 0 ? qint64(total) : -1);
        }
        return length;
    }

    static int onTransferInfo(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        auto *self = static_cast<Exchange *>(user);
        return self->cancel->isCancelled() ? 1 : 0;
    }
};

CurlHttpClient::CurlHttpClient(QString caBundlePath) : m_caBundlePath(caBundlePath.toLocal8Bit())
{
    CurlSupport::ensureInitialized();
}

CurlHttpClient::~CurlHttpClient()
{
    for (CURL *handle : m_idleHandles)
        curl_easy_cleanup(handle);
}

HttpResult CurlHttpClient::get(const HttpRequest &request, const CancelToken &cancel)
{
    Exchange exchange;
    exchange.maxBodyBytes = request.maxBodyBytes;
    return performWithConnectivityWait(request, exchange, cancel);
}

HttpResult CurlHttpClient::download(const HttpRequest &request, const QString &filePath,
                                    const std::function<void(qint64, qint64)> &progress,
                                    const CancelToken &cancel)
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return HttpResult{std::nullopt, NetworkError{NetworkErrorKind::WriteFailed,
                                                     QStringLiteral("Не удалось создать файл «%1»")
                                                         .arg(file.fileName().section('/', -1))}};
    }
    Exchange exchange;
    exchange.file = &file;
    exchange.progress = &progress;
    return performWithConnectivityWait(request, exchange, cancel);
}

HttpResult CurlHttpClient::performWithConnectivityWait(const HttpRequest &request,
                                                       Exchange &exchange,
                                                       const CancelToken &cancel)
{
    // With the network down an attempt keeps trying quietly until the resource time-out,
    // then reports the last error, as a client that waits for connectivity would.
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        exchange.resetForAttempt();
        HttpResult result = performOnce(request, exchange, cancel);
        if (result.ok() || result.error.kind != NetworkErrorKind::NotConnected
            || !request.waitForConnectivity || request.resourceTimeoutSeconds <= 0)
            return result;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (elapsed + kConnectivityPollSeconds >= request.resourceTimeoutSeconds)
            return result;
        if (!cancel.sleepFor(kConnectivityPollSeconds))
            return HttpResult{std::nullopt, CurlSupport::translate(CURLE_ABORTED_BY_CALLBACK, 0)};
    }
}

HttpResult CurlHttpClient::performOnce(const HttpRequest &request, Exchange &exchange,
                                       const CancelToken &cancel)
{
    if (cancel.isCancelled())
        return HttpResult{std::nullopt, CurlSupport::translate(CURLE_ABORTED_BY_CALLBACK, 0)};

    CURL *handle = acquireHandle();
    exchange.handle = handle;
    exchange.cancel = &cancel;

    const QByteArray url = request.url.toEncoded();
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    CurlSupport::applyTransportRules(handle, m_caBundlePath);
    CurlSupport::applyTimeouts(handle, request.requestTimeoutSeconds,
                               request.resourceTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &Exchange::onHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Exchange::onBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &Exchange::onTransferInfo);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &exchange);
    if (exchange.file)
        curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kDownloadBufferSize);

    curl_slist *headers = nullptr;
    for (const auto &h : request.headers)
        headers = curl_slist_append(headers, (h.first + ": " + h.second).constData());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);

    const CURLcode code = curl_easy_perform(handle);
    long osErrno = 0;
    curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osErrno);
    char *effectiveUrl = nullptr;
    curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    const QUrl finalUrl = effectiveUrl ? QUrl::fromEncoded(effectiveUrl) : request.url;

    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    releaseHandle(handle);

    if (code == CURLE_WRITE_ERROR && exchange.writeFailed) {
        return HttpResult{std::nullopt,
                          NetworkError{NetworkErrorKind::WriteFailed,
                                       QStringLiteral("Не удалось записать файл «%1»")
                                           .arg(exchange.file->fileName().section('/', -1))}};
    }
    if (code == CURLE_WRITE_ERROR && exchange.tooLarge)
        return HttpResult{std::nullopt,
                          NetworkError{NetworkErrorKind::Other,
                                       QStringLiteral("Сервер прислал слишком большой ответ")}};
    if (code != CURLE_OK)
        return HttpResult{std::nullopt, CurlSupport::translate(code, osErrno)};
    if (exchange.file)
        exchange.file->flush();
    exchange.response.finalUrl = finalUrl;
    return HttpResult{std::move(exchange.response), NetworkError{NetworkErrorKind::None, {}}};
}

CURL *CurlHttpClient::acquireHandle()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_idleHandles.empty()) {
            CURL *handle = m_idleHandles.back();
            m_idleHandles.pop_back();
            // Reset keeps the live connections, so the next call to the host reuses one.
            curl_easy_reset(handle);
            return handle;
        }
    }
    return curl_easy_init();
}

void CurlHttpClient::releaseHandle(CURL *handle)
{
    std::lock_guard lock(m_mutex);
    m_idleHandles.push_back(handle);
}

namespace CurlSupport {

void ensureInitialized()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void applyTransportRules(CURL *handle, const QByteArray &caBundlePath)
{
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caBundlePath.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, caBundlePath.constData());
}

void applyTimeouts(CURL *handle, double requestTimeoutSeconds, double resourceTimeoutSeconds)
{
    if (requestTimeoutSeconds > 0) {
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(requestTimeoutSeconds * 1000));
        // curl measures silence in whole seconds: less than a byte a second for that long.
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME,
                         std::max(1L, long(std::ceil(requestTimeoutSeconds))));
    }
    if (resourceTimeoutSeconds > 0)
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, long(resourceTimeoutSeconds * 1000));
}

NetworkError translate(CURLcode code, long osErrno)
{
    switch (code) {
    case CURLE_OK:
        return {NetworkErrorKind::None, {}};
    case CURLE_ABORTED_BY_CALLBACK:
        return {NetworkErrorKind::Cancelled, QStringLiteral("Загрузка отменена")};
    case CURLE_OPERATION_TIMEDOUT:
        return {NetworkErrorKind::TimedOut, QStringLiteral("Сервер не ответил вовремя")};
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return {NetworkErrorKind::CannotFindHost,
                QStringLiteral("Не удалось найти сервер с указанным именем")};
    case CURLE_COULDNT_CONNECT:
        if (osErrno == ENETUNREACH || osErrno == EHOSTUNREACH || osErrno == ENETDOWN)
            return {NetworkErrorKind::NotConnected, QStringLiteral("Нет подключения к интернету")};
        return {NetworkErrorKind::CannotConnect,
                QStringLiteral("Не удалось подключиться к серверу")};
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return {NetworkErrorKind::ConnectionLost,
                QStringLiteral("Сетевое соединение было потеряно")};
    case CURLE_PEER_FAILED_VERIFICATION:
        return {NetworkErrorKind::Tls, QStringLiteral("Сертификат сервера не прошёл проверку")};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
        return {NetworkErrorKind::Tls,
                QStringLiteral("Не удалось установить защищённое соединение с сервером")};
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return {NetworkErrorKind::BadUrl,
                QStringLiteral("Адрес не поддерживается: разрешены только http и https")};
    case CURLE_TOO_MANY_REDIRECTS:
        return {NetworkErrorKind::Other,
                QStringLiteral("Сервер перенаправил запрос слишком много раз")};
    case CURLE_WRITE_ERROR:
        return {NetworkErrorKind::WriteFailed, QStringLiteral("Не удалось записать данные")};
    default:
        return {NetworkErrorKind::Other, QStringLiteral("Не удалось выполнить сетевой запрос")};
    }
}

} // namespace CurlSupport
