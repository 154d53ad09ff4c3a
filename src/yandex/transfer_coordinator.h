#pragma once

#include "app/app_error.h"
#include "app/cancel_token.h"
#include "yandex/curl_transfer_loop.h"
#include "yandex/retry_policy.h"
#include "yandex/stream_digest.h"

#include <QString>
#include <QUrl>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// One file body to fetch into its ".part" file.
struct FileTransfer {
    QUrl url;
    QString partPath;
    QString displayName;   // the final file name, for messages
    qint64 listedSize = 0; // the size the listing gave; 0 when unknown
    // Asks the API for a fresh direct link; used once when the file host refuses a link
    // that had already served bytes (links expire during long pauses). May be empty.
    std::function<Result<QUrl>()> renewLink;
    // What the finished body must hash to; empty: unchecked.
    ListedDigest digest;
};

// Settings of TransferCoordinator; the defaults are those of the shipped program.
struct TransferOptions {
    QString caBundlePath; // empty: the system's trusted CAs
    SleepFn sleep = realSleep();
    double requestTimeoutSeconds = 300;
    double resourceTimeoutSeconds = 604800;
    int maxConnectionsPerHost = 8;
};

// Turns file transfers into one blocking call per file for the run's workers, with the
// retry policy, byte-range continuation, pause, resume and stop of the whole run. One
// instance lives as long as the download manager; its transfers run on one transfer thread.
class TransferCoordinator {
public:
    using Options = TransferOptions;
    static constexpr int kMaxAttempts = 3;
    // Bytes written to the ".part" so far and the expected total (-1 when unknown); called
    // on the transfer thread, so it must only hand the numbers on.
    using Progress = std::function<void(qint64 written, qint64 expected)>;

    explicit TransferCoordinator(Options options = {});
    ~TransferCoordinator();

    // Blocks until the body is in `transfer.partPath`. Up to 3 attempts on transient network
    // errors and on 408, 429 and 5xx; a retry continues the file by byte range when the server
    // honours it. A non-2xx body never reaches the file; a body shorter than announced is a
    // failed attempt. With a listed digest the body is hashed as it arrives; a mismatch
    // discards the ".part" and fetches the file once more from byte 0, and a second one fails
    // the file. Ends with CancelToken::stopped() on stop or when `cancel` fires.
    Status download(const FileTransfer &transfer, const Progress &progress,
                    const CancelToken &cancel);

    // Pause closes the connections at once (no byte moves while paused, however long) and
    // keeps every ".part"; resume continues the same files by byte range.
    void suspendAll();
    void resumeAll();
    // Ends every transfer in flight and any pause.
    void cancelAll();

    int transfersInFlight() const { return m_loop->runningCount(); }

private:
    TransferAttemptResult runAttempt(const TransferAttempt &attempt, const Progress &progress,
                                     const CancelToken &cancel);
    // False when `cancel` fired while waiting for resume.
    bool waitWhileSuspended(const CancelToken &cancel);

    Options m_options;
    std::unique_ptr<CurlTransferLoop> m_loop;
    std::mutex m_mutex;
    std::condition_variable m_resumed;
    bool m_suspended = false;
};
