#pragma once

#include "app/app_error.h"
#include "yandex/control_gate.h"
#include "yandex/yandex_api.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// One file of a run: what to ask a download link for and where it goes.
struct FilePlan {
    QString id; // its remote path: the file's identity within the run
    QString remotePath;
    QString destination; // final local path, already unique
    qint64 size = 0;     // from the listing; 0 when it gave none
    // From the listing, empty when it gave none: the direct link for the first attempt, and
    // the digests of the content in lower-case hex.
    QUrl downloadLink;
    QString sha256;
    QString md5;

    bool operator==(const FilePlan &other) const = default;
};

// Items asked per page of a folder's listing.
inline constexpr qint64 kListingPageSize = 200;

// How a scan picks local names.
enum class ScanNaming {
    Fresh,    // free on disk and within the plan: a new run never touches what is there
    AsBefore, // as if the folder were empty: the names that a first run into it chose
};

// What a scan tells as it goes; called on the scan's thread.
struct ScanHooks {
    // The progress texts ("Сканируется папка: найдено N файлов…" every 100 files, then the
    // closing text).
    std::function<void(const QString &)> status;
    // Each file as soon as it is planned, in listing order; may be empty.
    std::function<void(const FilePlan &)> planned;
};

// Walks a shared folder depth first through the listing API (200 items a page), creating
// the local folders under `root` as it goes and planning a safe, free local name for every
// file. Passes the gate before every folder, page and item. `firstPage`, when given, is the
// first page of the folder at `initialPath`, already asked with the listing's fields.
// Blocking; runs on the run's thread.
Result<QList<FilePlan>> collectFiles(const YandexAPI &api, const QString &publicURL,
                                     const std::optional<QString> &initialPath, const QString &root,
                                     ControlGate &gate, const ScanHooks &hooks,
                                     ScanNaming naming = ScanNaming::Fresh,
                                     const std::optional<PublicResource> &firstPage = {});
