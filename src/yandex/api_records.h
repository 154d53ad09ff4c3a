#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// The JSON records of the public Yandex Disk REST API that the program reads. A decoder
// gives nothing when a required key is missing or any known key has the wrong JSON type;
// unknown keys are ignored and a null counts as absent for optional keys.

struct PublicItem {
    QString type;
    QString name;
    QString path;
    std::optional<qint64> size;
    // Listed only when asked for: the file's direct link (empty when absent or not a URL)
    // and its digests in lower-case hex (empty when absent).
    QUrl downloadLink;
    QString sha256;
    QString md5;
};

struct EmbeddedResource {
    QList<PublicItem> items;
    qint64 total = 0;
};

// A public file or folder, or one listing page of a folder.
struct PublicResource {
    QString type; // "dir" or "file"; anything else is reported by the caller
    QString name;
    std::optional<qint64> size;
    std::optional<EmbeddedResource> embedded;
    QString sha256; // of a file; empty when not given
    QString md5;    // of a file; empty when not given
};

// The service's error body; any of its texts may be missing.
struct YandexErrorResponse {
    std::optional<QString> message;
    std::optional<QString> description;
    std::optional<QString> error;

    // The first present of message, description, error.
    std::optional<QString> firstText() const;
};

std::optional<PublicResource> decodePublicResource(const QByteArray &json);
// The "href" of a download-link answer; nothing when it does not parse as a URL.
std::optional<QUrl> decodeDownloadLink(const QByteArray &json);
std::optional<YandexErrorResponse> decodeErrorResponse(const QByteArray &json);
