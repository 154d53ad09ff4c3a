#pragma once

#include "app/app_error.h"
#include "app/platform/http_client.h"
#include "yandex/api_records.h"
#include "yandex/network_outage.h"
#include "yandex/retry_policy.h"

#include <QString>
#include <QUrl>

#include <optional>

// Settings of YandexAPI; the defaults are the real service.
struct YandexApiOptions {
    // Scheme and host of the API; tests point it at a loopback server.
    QString baseUrl = QStringLiteral("https://cloud-api.yandex.net");
    SleepFn sleep = realSleep();
    double requestTimeoutSeconds = 180;
    double resourceTimeoutSeconds = 600;
    // Waits out a network that is down before trying again; null: the HTTP client's own wait.
    NetworkOutage *outage = nullptr;
};

// The public (no sign-in) Yandex Disk REST API: a resource's metadata or one listing page,
// and the direct link of a file. Blocking, for worker threads; stateless apart from its
// settings, so one instance serves every worker of a run at once. Every failure is an
// AppError with a ready-to-show message, or CancelToken::stopped() when `cancel` fired.
class YandexAPI {
public:
    using Options = YandexApiOptions;

    static constexpr int kMaxAttempts = 4;
    static constexpr qint64 kMaxBodyBytes = 16 * 1024 * 1024;
    static constexpr const char *kUserAgent = "Quenlow-macOS/1.0";
    // What a folder page asks for: only the fields the scan reads.
    static QString listingFields();

    explicit YandexAPI(HttpClient &http, Options options = {});

    Result<PublicResource> resource(const QString &publicURL, const std::optional<QString> &path,
                                    std::optional<qint64> offset, std::optional<qint64> limit,
                                    const std::optional<QString> &fields,
                                    const CancelToken &cancel) const;
    Result<QUrl> downloadURL(const QString &publicURL, const std::optional<QString> &path,
                             const CancelToken &cancel) const;

    // The transient network errors worth another attempt (file transfers use the same set).
    static bool isTemporary(const NetworkError &error) { return error.isTransient(); }

private:
    using QueryItems = QList<QPair<QString, QString>>;
    // One call with retries; the body of its 2xx answer.
    Result<QByteArray> request(const QString &path, const QueryItems &query,
                               const CancelToken &cancel) const;

    HttpClient &m_http;
    Options m_options;
};
