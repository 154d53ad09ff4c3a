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

#include <QSet>

#include <functional>
#include <mutex>
#include <optional>

class LinkPipeline;
class PlanQueue;

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

    // `continueInto`, when given, is what an earlier run of the same link produced (its folder
    // or its file): the run plans the same names into it, keeps the files already there that
    // match the listing and gives a file that differs the next free numbered name.
    Result<RunSummary> perform(const YandexPublicLink &link, const QString &destinationRoot,
                               int maxConcurrent, const QString &continueInto = {});

private:
    // `found`: the first look at the folder, with the first page of its listing when the API
    // gave it.
    Result<RunSummary> performFolder(const YandexPublicLink &link, const QString &root,
                                     const PublicResource &found);
    Result<RunSummary> performFile(const YandexPublicLink &link, QString destination,
                                   const PublicResource &found);
    // One download worker: takes the next file of the queue until none is left or the run
    // ends; a failed file ends the run.
    void downloadQueued(PlanQueue &queue, LinkPipeline &links, const QString &publicURL);
    // Ends a folder run's downloads for `error`: a failure, or a stop when the gate was already
    // cancelled. The first failure stays, and stops the other transfers.
    void endFiles(const AppError &error, PlanQueue &queue);
    // Continuing: the size of a file at `destination` that matches the listing, to keep; for
    // one that differs `destination` moves on to the next free numbered name of the listed
    // name. Nothing when the file is to be downloaded.
    Result<std::optional<qint64>> settleExisting(QString &destination, const QString &listedName,
                                                 qint64 listedSize, const ListedDigest &digest);
    // The direct link of the file at `remotePath`, asked from the API once the gate lets the
    // run go on.
    Result<QUrl> askLink(const QString &publicURL, const std::optional<QString> &remotePath);
    // Transfer from the listed link (else from `askedLink`, else from one asked now) into
    // "<destination>.part", move into place; the moved file's size. A link refused by the
    // file host is asked anew from the API, once. Any failure from the transfer on removes
    // the ".part".
    Result<qint64> downloadFile(const FilePlan &plan, const std::optional<QString> &remotePath,
                                const QString &publicURL,
                                const std::function<Result<QUrl>()> &askedLink = {});

    const YandexAPI &m_api;
    TransferCoordinator &m_coordinator;
    ControlGate &m_gate;
    ProgressBoard &m_board;
    Hooks m_hooks;
    int m_maxConcurrent = 1;
    bool m_continuing = false;
    std::mutex m_namesMutex;
    QSet<QString> m_reserved; // the plan's names, and those given to differing files
    std::mutex m_endMutex;
    std::optional<AppError> m_failure;
    bool m_stopped = false;
};
