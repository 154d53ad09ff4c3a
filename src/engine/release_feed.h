#pragma once

#include "app/app_error.h"
#include "app/cancel_token.h"
#include "app/platform/http_client.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

// The archive to download and the digest it must have.
struct VerifiedAsset {
    QUrl downloadURL;
    QString sha256; // 64 lower-case hexadecimal characters
};

// The installer's own two failures; neither is shown to the user as such.
namespace InstallErrors {
// The feed or the archive host answered with no HTTP response or a status outside 2xx.
AppError feedUnavailable();
// No such asset, a missing or malformed digest, a digest mismatch, an archive that cannot or
// must not be unpacked, or no executable in it.
AppError badRelease();
bool isBadRelease(const AppError &error);
bool isFeedUnavailable(const AppError &error);
} // namespace InstallErrors

// "sha256:" (exactly, case-sensitive) followed by 64 hexadecimal digits of any case gives the
// lower-cased digits; anything else gives nothing.
std::optional<QString> verifiedDigest(const QString &digest);

// A checksum file as "sha256sum" writes it: 64 hexadecimal digits of any case, optionally
// followed by the file name (which must then be `assetName`, "*" for binary mode allowed), on
// one line. Gives the lower-cased digits; anything else gives nothing.
std::optional<QString> digestFromChecksumFile(const QByteArray &text, const QString &assetName);

// What a release document says about the asset: its link and either its checked digest or,
// when the feed gives the asset no digest, the link of its companion checksum file
// (NAME + ".sha256sum").
struct PublishedAsset {
    QUrl downloadURL;
    std::optional<QString> sha256;
    QUrl checksumFileURL;
};

// Picks the first asset named `assetName` from a release document and checks its digest.
// A document that is not a release fails as a decoding error.
Result<PublishedAsset> publishedAssetFromRelease(const QByteArray &json, const QString &assetName);

// Asks the feed at `feedUrl` (blocking; worker threads only) with the headers GitHub's REST API
// expects, reads the companion checksum file where the feed gives no digest, and returns the
// verified asset.
Result<VerifiedAsset> fetchVerifiedAsset(HttpClient &http, const QUrl &feedUrl,
                                         const QString &assetName, const CancelToken &cancel);

// A transport failure as an AppError (cancelled stays cancelled).
AppError networkFailure(const NetworkError &error);
