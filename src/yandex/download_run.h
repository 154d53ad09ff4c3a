#pragma once

#include "app/app_error.h"
#include "yandex/control_gate.h"
#include "yandex/folder_scan.h"
#include "yandex/progress_board.h"
#include "yandex/public_link.h"
#include "yandex/transfer_coordinator.h"
#include "yandex/yandex_api.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// How a run that went through ended: a folder with its files, or one file.
struct RunSummary {
    bool isFolder = false;
    QString outputPath;
};

// The body of one download run as straight-line blocking code on the run's own thread:
// ask what the link names, then download one file, or create the root folder, scan it and
// download its files with a pool of at most `maxConcurrent` worker threads. Everything it
// tells its job goes through `Hooks` (called on the run's threads; the job hops them to the UI
// thread) or through the progress board.
class DownloadRun {
public:
    struct Hooks {
        std::function<void(const QString &)> status;
        std::function<void(const QString &)> output; // the path the run produces, so far
        std::function<void(int files, qint64 bytes)> totals;
    };
    static inline const QString kSingleFileId = QStringLiteral("root-file");

    DownloadRun(const YandexAPI &api, TransferCoordinator &coordinator, ControlGate &gate,
                ProgressBoard &board, Hooks hooks);

    Result<RunSummary> perform(const YandexPublicLink &link, const QString &destinationRoot,
                               int maxConcurrent);

private:
    Result<RunSummary> performFolder(const YandexPublicLink &link, const QString &root);
    Result<RunSummary> performFile(const YandexPublicLink &link, const QString &destination,
                                   qint64 size);
    Status downloadFiles(const QList<FilePlan> &plans, const QString &publicURL);
    // Transfer from the listed link (or from `askedLink` when the listing gave none) into
    // "<destination>.part", move into place; the moved file's size. A link refused by the
    // file host is asked anew from the API, once. Any failure from the transfer on removes
    // the ".part".
    Result<qint64> downloadFile(const FilePlan &plan, const std::optional<QString> &remotePath,
                                const std::function<Result<QUrl>()> &askedLink,
                                const QString &publicURL);

    const YandexAPI &m_api;
    TransferCoordinator &m_coordinator;
    ControlGate &m_gate;
    ProgressBoard &m_board;
    Hooks m_hooks;
    int m_maxConcurrent = 1;
};
