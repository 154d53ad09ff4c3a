#include "yandex/public_link.h"

#include <QStringDecoder>
#include <QUrl>

namespace {

QString needLinkMessage()
{
    return QStringLiteral("Нужна публичная ссылка Яндекс Диска");
}

QString cannotParseMessage()
{
    return QStringLiteral("Не удалось разобрать публичную ссылку Яндекс Диска");
}

bool isUnicodeSpace(QChar c)
{
    // The full white-space-and-newline set, including the separators QChar::isSpace covers
    // and the line and paragraph separators.
    return c.isSpace() || c == QChar(0x2028) || c == QChar(0x2029) || c == QChar(0x0085);
}

QString trimmed(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isUnicodeSpace(text.at(begin)))
        ++begin;
    while (end > begin && isUnicodeSpace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One percent-decoding; nothing when an escape is malformed or the bytes are not UTF-8.
std::optional<QString> percentDecoded(const QString &segment)
{
    const QByteArray raw = segment.toUtf8();
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw.at(i) != '%') {
            out.append(raw.at(i));
            continue;
        }
        if (i + 2 >= raw.size())
            return std::nullopt;
        const int high = hexValue(raw.at(i + 1));
        const int low = hexValue(raw.at(i + 2));
        if (high < 0 || low < 0)
            return std::nullopt;
        out.append(char(high * 16 + low));
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(out);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Decodes at most twice, so a segment that was encoded twice on its way to the user reads
// naturally, while literal percent signs and malformed escapes survive as typed.
QString decodedSegment(const QString &segment)
{
    const std::optional<QString> once = percentDecoded(segment);
    if (!once || *once == segment)
        return segment;
    const std::optional<QString> twice = percentDecoded(*once);
    if (!twice || *twice == *once)
        return *once;
    return *twice;
}

} // namespace

const QStringList &acceptedYandexHosts()
{
    static const QStringList hosts{QStringLiteral("disk.yandex.ru"),
                                   QStringLiteral("disk.yandex.com"),
                                   QStringLiteral("disk.360.yandex.ru"), QStringLiteral("yadi.sk")};
    return hosts;
}

Result<YandexPublicLink> validatePublicURL(const QString &text)
{
    const QString input = trimmed(text);
    // Tolerant parsing, as a browser's address bar would: a stray "%" inside the path is
    // kept (and survives decoding below) instead of rejecting the whole link.
    const QUrl url(input, QUrl::TolerantMode);
    if (input.isEmpty() || !url.isValid())
        return AppError(needLinkMessage(), ErrorKind::InvalidInput);

    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return AppError(needLinkMessage(), ErrorKind::InvalidInput);
    const QString host = url.host(QUrl::FullyEncoded).toLower();
    if (host.isEmpty() || !acceptedYandexHosts().contains(host))
        return AppError(needLinkMessage(), ErrorKind::InvalidInput);

    const QString encodedPath = url.path(QUrl::FullyEncoded);
    const QStringList segments = encodedPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (segments.size() < 2)
        return YandexPublicLink{input, std::nullopt};

    // The first two segments name the shared resource; they are kept exactly as sent,
    // because the service matches its public key byte for byte.
    const QByteArray rebuilt = scheme.toUtf8() + "://" + host.toUtf8() + '/'
                               + segments.at(0).toUtf8() + '/' + segments.at(1).toUtf8();
    if (!QUrl::fromEncoded(rebuilt, QUrl::StrictMode).isValid())
        return AppError(cannotParseMessage(), ErrorKind::InvalidInput);
    const QString publicURL = QString::fromUtf8(rebuilt);

    if (segments.size() == 2)
        return YandexPublicLink{publicURL, std::nullopt};
    QStringList inner;
    for (qsizetype i = 2; i < segments.size(); ++i)
        inner.append(decodedSegment(segments.at(i)));
    return YandexPublicLink{publicURL, QLatin1Char('/') + inner.join(QLatin1Char('/'))};
}
