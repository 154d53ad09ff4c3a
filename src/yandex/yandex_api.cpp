#include "yandex/yandex_api.h"

namespace {

QString unknownFormatMessage()
{
    return QStringLiteral("Яндекс вернул ответ неизвестного формата");
}

// Every query value is fully encoded (only "/" and ":" stay readable), so "+" or "&" in a
// public key can never change its meaning on the way.
QByteArray encodedQuery(const QList<QPair<QString, QString>> &items)
{
    QByteArray query;
    for (const auto &item : items) {
        if (!query.isEmpty())
            query.append('&');
        query.append(QUrl::toPercentEncoding(item.first));
        query.append('=');
        query.append(QUrl::toPercentEncoding(item.second, "/:"));
    }
    return query;
}

} // namespace

QString YandexAPI::listingFields()
{
    return QStringLiteral("type,name,_embedded.items.name,_embedded.items.path,"
                          "_embedded.items.type,_embedded.items.size,_embedded.items.file,"
                          "_embedded.items.sha256,_embedded.items.md5,_embedded.total");
}

YandexAPI::YandexAPI(HttpClient &http, Options options)
    : m_http(http), m_options(std::move(options))
{
    if (!m_options.sleep)
        m_options.sleep = realSleep();
}

Result<PublicResource>
YandexAPI::resource(const QString &publicURL, const std::optional<QString> &path,
                    std::optional<qint64> offset, std::optional<qint64> limit,
                    const std::optional<QString> &fields, const CancelToken &cancel) const
{
    QueryItems query{{QStringLiteral("public_key"), publicURL}};
    if (path)
        query.append({QStringLiteral("path"), *path});
    if (offset)
        query.append({QStringLiteral("offset"), QString::number(*offset)});
    if (limit)
        query.append({QStringLiteral("limit"), QString::number(*limit)});
    if (fields)
        query.append({QStringLiteral("fields"), *fields});
    Result<QByteArray> body = request(QStringLiteral("/v1/disk/public/resources"), query, cancel);
    if (!body)
        return body.error();
    std::optional<PublicResource> resource = decodePublicResource(body.value());
    if (!resource)
        return AppError(unknownFormatMessage(), ErrorKind::Decoding);
    return std::move(*resource);
}

Result<QUrl> YandexAPI::downloadURL(const QString &publicURL, const std::optional<QString> &path,
                                    const CancelToken &cancel) const
{
    QueryItems query{{QStringLiteral("public_key"), publicURL}};
    if (path)
        query.append({QStringLiteral("path"), *path});
    Result<QByteArray> body =
        request(QStringLiteral("/v1/disk/public/resources/download"), query, cancel);
    if (!body)
        return body.error();
    std::optional<QUrl> link = decodeDownloadLink(body.value());
    if (!link)
        return AppError(unknownFormatMessage(), ErrorKind::Decoding);
    return *link;
}

Result<QByteArray> YandexAPI::request(const QString &path, const QueryItems &query,
                                      const CancelToken &cancel) const
{
    const QUrl url = QUrl::fromEncoded(
        m_options.baseUrl.toUtf8() + path.toUtf8() + '?' + encodedQuery(query), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return AppError(QStringLiteral("Не удалось сформировать запрос к Яндексу"),
                        ErrorKind::Internal);

    HttpRequest request;
    request.url = url;
    request.headers = {{QByteArrayLiteral("User-Agent"), QByteArray(kUserAgent)}};
    request.requestTimeoutSeconds = m_options.requestTimeoutSeconds;
    request.resourceTimeoutSeconds = m_options.resourceTimeoutSeconds;
    // A listing page or a link is a few kilobytes; a body without end is no answer.
    request.maxBodyBytes = kMaxBodyBytes;
    request.waitForConnectivity = m_options.outage == nullptr;
    std::optional<NetworkOutage::Clock::time_point> downSince;

    for (int attempt = 1;; ++attempt) {
        const HttpResult result = m_http.get(request, cancel);
        if (!result.ok()) {
            const NetworkError &error = result.error;
            if (error.kind == NetworkErrorKind::Cancelled || cancel.isCancelled())
                return CancelToken::stopped();
            if (m_options.outage && NetworkOutage::isNetworkDown(error)) {
                // An outage costs no attempt: the call waits for the network, then goes on.
                downSince = downSince.value_or(NetworkOutage::Clock::now());
                const auto wait = m_options.outage->waitForNetwork(url, *downSince, cancel);
                if (wait == NetworkOutage::Wait::Stopped)
                    return CancelToken::stopped();
                if (wait == NetworkOutage::Wait::Back) {
                    --attempt;
                    continue;
                }
            }
            if (isTemporary(error) && attempt < kMaxAttempts) {
                if (!m_options.sleep(retryDelaySeconds(std::nullopt, attempt), cancel))
                    return CancelToken::stopped();
                continue;
            }
            if (error.kind == NetworkErrorKind::TimedOut)
                return AppError(
                    QStringLiteral("Яндекс не ответил вовремя после нескольких попыток"),
                    ErrorKind::Network);
            return AppError(error.message, ErrorKind::Network);
        }

        const HttpResponse &response = *result.response;
        if (response.status < 100 || response.status > 599)
            return AppError(QStringLiteral("Некорректный ответ Яндекса"), ErrorKind::Decoding);
        if (isRetryableStatus(response.status) && attempt < kMaxAttempts) {
            const double delay = retryDelaySeconds(response.header("Retry-After"), attempt);
            if (!m_options.sleep(delay, cancel))
                return CancelToken::stopped();
            continue;
        }
        if (response.status >= 200 && response.status <= 299)
            return response.body;
        if (const auto body = decodeErrorResponse(response.body)) {
            if (const auto text = body->firstText())
                return AppError(*text, ErrorKind::HttpStatus);
        }
        return AppError(QStringLiteral("Ошибка Яндекса: HTTP %1").arg(response.status),
                        ErrorKind::HttpStatus);
    }
}
