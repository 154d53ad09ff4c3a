#pragma once

#include "app/app_error.h"

#include <QString>
#include <QStringList>

#include <optional>

// What a pasted public link names: the shared resource (sent as `public_key`) and, for a
// link that points inside a shared folder, the decoded path of the item within it.
struct YandexPublicLink {
    // The absolute link text, sent verbatim as `public_key`: exactly as pasted (trimmed) when
    // it names the resource itself, else rebuilt from scheme, host and its first two segments.
    QString publicURL;
    std::optional<QString> path; // "/a/b", each segment decoded; absent for the resource itself

    bool operator==(const YandexPublicLink &other) const = default;
};

// The public web hosts of Yandex Disk, lower case; matched exactly, sub-domains excluded.
const QStringList &acceptedYandexHosts();

// Checks and splits the raw text of the link field (untrimmed). Pure; any thread.
// Fails with "Нужна публичная ссылка Яндекс Диска" or
// "Не удалось разобрать публичную ссылку Яндекс Диска".
Result<YandexPublicLink> validatePublicURL(const QString &text);
