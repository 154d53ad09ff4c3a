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

// Picks the first asset named `assetName` from a release document and checks its digest.
// A document that is not a release fails as a decoding error.
Result<VerifiedAsset> verifiedAssetFromRelease(const QByteArray &json, const QString &assetName);

// Asks the feed at `feedUrl` (blocking; worker threads only) with the headers GitHub's REST API
// expects, and returns the verified asset.
Result<VerifiedAsset> fetchVerifiedAsset(HttpClient &http, const QUrl &feedUrl,
                                         const QString &assetName, const CancelToken &cancel);

// A transport failure as an AppError (cancelled stays cancelled).
AppError networkFailure(const NetworkError &error);
