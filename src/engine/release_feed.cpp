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

Result<VerifiedAsset> verifiedAssetFromRelease(const QByteArray &json, const QString &assetName)
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
    // Every asset must decode as a record with a name and a link, as a typed decoder would
    // require, before one of them is picked.
    std::optional<QJsonObject> chosen;
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
    }
    if (!chosen)
        return InstallErrors::badRelease();
    const QUrl url(chosen->value(QLatin1StringView("browser_download_url")).toString(),
                   QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return notRelease;
    const auto sha = verifiedDigest(chosen->value(QLatin1StringView("digest")).toString());
    if (!sha)
        return InstallErrors::badRelease();
    return VerifiedAsset{url, *sha};
}

AppError networkFailure(const NetworkError &error)
{
    if (error.kind == NetworkErrorKind::Cancelled)
        return AppError::cancelled();
    return AppError(error.message, ErrorKind::Network);
}

Result<VerifiedAsset> fetchVerifiedAsset(HttpClient &http, const QUrl &feedUrl,
                                         const QString &assetName, const CancelToken &cancel)
{
    HttpRequest request;
    request.url = feedUrl;
    request.headers = {{"Accept", "application/vnd.github+json"},
                       {"User-Agent", "Tovrin/3"},
                       {"X-GitHub-Api-Version", "2026-03-10"}};
    request.requestTimeoutSeconds = 30;
    request.resourceTimeoutSeconds = 30;
    const HttpResult result = http.get(request, cancel);
    if (!result.ok())
        return networkFailure(result.error);
    if (result.response->status < 200 || result.response->status > 299)
        return InstallErrors::feedUnavailable();
    return verifiedAssetFromRelease(result.response->body, assetName);
}
