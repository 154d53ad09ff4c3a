#include "engine/release_feed.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace InstallErrors {

AppError feedUnavailable()
{
    return AppError(QStringLiteral("Сервер обновлений сейчас недоступен."), ErrorKind::HttpStatus);
}

AppError badRelease()
{
    return AppError(QStringLiteral("Выпуск повреждён или неполон."), ErrorKind::InvalidInput);
}

bool isBadRelease(const AppError &error)
{
    return error.kind == ErrorKind::InvalidInput && error.message == badRelease().message;
}

bool isFeedUnavailable(const AppError &error)
{
    return error.kind == ErrorKind::HttpStatus && error.message == feedUnavailable().message;
}

} // namespace InstallErrors

std::optional<QString> verifiedDigest(const QString &digest)
{
    static const QLatin1StringView prefix("sha256:");
    if (!digest.startsWith(prefix, Qt::CaseSensitive))
        return std::nullopt;
    const QString hex = digest.mid(prefix.size()).toLower();
    if (hex.size() != 64)
        return std::nullopt;
    for (const QChar c : hex) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return std::nullopt;
    }
    return hex;
}

std::optional<QString> digestFromChecksumFile(const QByteArray &text, const QString &assetName)
{
    const QList<QByteArray> words = text.simplified().split(' ');
    if (words.size() > 2 || text.trimmed().contains('\n'))
        return std::nullopt;
    if (words.size() == 2) {
        QByteArray name = words.at(1);
        if (name.startsWith('*'))
            name.remove(0, 1);
        if (QString::fromUtf8(name) != assetName)
            return std::nullopt;
    }
    return verifiedDigest(QStringLiteral("sha256:") + QString::fromLatin1(words.first()));
}

Result<PublishedAsset> publishedAssetFromRelease(const QByteArray &json, const QString &assetName)
{
    const AppError notRelease(QStringLiteral("Не удалось прочитать ответ сервера обновлений."),
                              ErrorKind::Decoding);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return notRelease;
    const QJsonValue assets = document.object().value(QLatin1StringView("assets"));
    if (!assets.isArray())
        return notRelease;
    const QString checksumName = assetName + QStringLiteral(".sha256sum");
    // Every asset must decode as a record with a name and a link, as a typed decoder would
    // require, before one of them is picked.
    std::optional<QJsonObject> chosen;
    std::optional<QJsonObject> checksum;
    for (const QJsonValue &value : assets.toArray()) {
        const QJsonObject asset = value.toObject();
        const QJsonValue name = asset.value(QLatin1StringView("name"));
        const QJsonValue link = asset.value(QLatin1StringView("browser_download_url"));
        const QJsonValue digest = asset.value(QLatin1StringView("digest"));
        if (!value.isObject() || !name.isString() || !link.isString()
            || !(digest.isUndefined() || digest.isNull() || digest.isString()))
            return notRelease;
        if (!chosen && name.toString() == assetName)
            chosen = asset;
        if (!checksum && name.toString() == checksumName)
            checksum = asset;
    }
    if (!chosen)
        return InstallErrors::badRelease();
    const auto link = [](const QJsonObject &asset) {
        return QUrl(asset.value(QLatin1StringView("browser_download_url")).toString(),
                    QUrl::StrictMode);
    };
    PublishedAsset published{link(*chosen), std::nullopt, {}};
    if (!published.downloadURL.isValid() || published.downloadURL.isRelative())
        return notRelease;
    const QJsonValue digest = chosen->value(QLatin1StringView("digest"));
    if (digest.isString()) {
        // A digest that is there but malformed is a bad release; the companion file stands in
        // only for a digest the feed does not give at all.
        published.sha256 = verifiedDigest(digest.toString());
        if (!published.sha256)
            return InstallErrors::badRelease();
        return published;
    }
    if (!checksum)
        return InstallErrors::badRelease();
    published.checksumFileURL = link(*checksum);
    if (!published.checksumFileURL.isValid() || published.checksumFileURL.isRelative())
        return notRelease;
    return published;
}

AppError networkFailure(const NetworkError &error)
{
    if (error.kind == NetworkErrorKind::Cancelled)
        return CancelToken::stopped();
    return AppError(error.message, ErrorKind::Network);
}

namespace {

// One small document from the release host: a network failure, a non-2xx answer (the feed is
// unavailable) or the body.
Result<QByteArray> fetchDocument(HttpClient &http, const QUrl &url,
                                 QList<QPair<QByteArray, QByteArray>> headers,
                                 int resourceTimeoutSeconds, const CancelToken &cancel)
{
    HttpRequest request;
    request.url = url;
    request.headers = std::move(headers);
    request.requestTimeoutSeconds = 30;
    request.resourceTimeoutSeconds = resourceTimeoutSeconds;
    const HttpResult result = http.get(request, cancel);
    if (!result.ok())
        return networkFailure(result.error);
    if (result.response->status < 200 || result.response->status > 299)
        return InstallErrors::feedUnavailable();
    return result.response->body;
}

} // namespace

Result<VerifiedAsset> fetchVerifiedAsset(HttpClient &http, const QUrl &feedUrl,
                                         const QString &assetName, const CancelToken &cancel)
{
    const Result<QByteArray> feed = fetchDocument(http, feedUrl,
                                                  {{"Accept", "application/vnd.github+json"},
                                                   {"User-Agent", "Tovrin/3"},
                                                   {"X-GitHub-Api-Version", "2026-03-10"}},
                                                  30, cancel);
    if (!feed)
        return feed.error();
    const Result<PublishedAsset> published = publishedAssetFromRelease(feed.value(), assetName);
    if (!published)
        return published.error();
    if (published.value().sha256)
        return VerifiedAsset{published.value().downloadURL, *published.value().sha256};

    const Result<QByteArray> checksum =
        fetchDocument(http, published.value().checksumFileURL,
                      {{"User-Agent", "Tovrin/3"}, {"Cache-Control", "no-cache"}}, 60, cancel);
    if (!checksum)
        return checksum.error();
    const auto sha = digestFromChecksumFile(checksum.value(), assetName);
    if (!sha)
        return InstallErrors::badRelease();
    return VerifiedAsset{published.value().downloadURL, *sha};
}
