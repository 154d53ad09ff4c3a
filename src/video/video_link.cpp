#include "video/video_link.h"

#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace {

const QString kYouTubeDomain = QStringLiteral("youtube.com");
const QString kYouTubeWebHost = QStringLiteral("www.youtube.com");
const QString kYouTubeShortHost = QStringLiteral("youtu.be");

const QStringList &platformDomains()
{
    static const QStringList domains{
        QStringLiteral("instagram.com"), QStringLiteral("instagr.am"),
        QStringLiteral("tiktok.com"),    QStringLiteral("vk.com"),
        QStringLiteral("vkvideo.ru"),    QStringLiteral("vk.ru"),
        QStringLiteral("rutube.ru"),     QStringLiteral("x.com"),
        QStringLiteral("twitter.com"),   QStringLiteral("t.co"),
        QStringLiteral("vimeo.com"),     QStringLiteral("twitch.tv"),
    };
    return domains;
}

bool isDomainOrSubdomain(const QString &host, const QString &domain)
{
    return host == domain || host.endsWith(u'.' + domain);
}

QString watchPage(const QString &id)
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(kYouTubeWebHost);
    url.setPath(QStringLiteral("/watch"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("v"), id);
    url.setQuery(query);
    return url.toString(QUrl::FullyEncoded);
}

QStringList pathPieces(const QUrl &url)
{
    return url.path(QUrl::FullyDecoded).split(u'/', Qt::SkipEmptyParts);
}

} // namespace

bool isYouTubeHost(const QString &host)
{
    return isDomainOrSubdomain(host.toLower(), kYouTubeDomain);
}

std::optional<QString> normalizeVideoLink(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    if (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))
        return std::nullopt;
    const QString host = url.host().toLower();

    if (host == kYouTubeShortHost) {
        const QStringList pieces = pathPieces(url);
        if (pieces.isEmpty() || pieces.first().isEmpty())
            return std::nullopt;
        return watchPage(pieces.first());
    }
    for (const QString &domain : platformDomains()) {
        if (isDomainOrSubdomain(host, domain))
            return url.toString(QUrl::FullyEncoded);
    }
    if (isYouTubeHost(host)) {
        const QStringList pieces = pathPieces(url);
        if (pieces.size() >= 2
            && (pieces.first() == QLatin1String("shorts")
                || pieces.first() == QLatin1String("live")))
            return watchPage(pieces.at(1));
        return url.toString(QUrl::FullyEncoded);
    }
    return std::nullopt;
}
