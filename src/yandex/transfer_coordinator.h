#pragma once

#include "app/app_error.h"
#include "yandex/control_gate.h"
#include "yandex/curl_transfer_loop.h"
#include "yandex/network_outage.h"
#include "yandex/retry_policy.h"
#include "yandex/stream_digest.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

// One file body to fetch into its ".part" file.
struct FileTransfer {
    QUrl url;
    QString partPath;
    QString displayName;   // the final file name, for messages
    qint64 listedSize = 0; // the size the listing gave; 0 when unknown
    // The link came with the listing: one that the file host does not know (404 before any
    // byte) is asked anew too.
    bool listedLink = false;
    // Asks the API for a fresh direct link; used once when the file host refuses the link
    // (403 or 410, before or after bytes arrived: links expire, during long pauses too).
    // May be empty.
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
    // Waits out a network that is down; null: such a failure counts as any transient one.
    NetworkOutage *outage = nullptr;
};

// Turns file transfers into one blocking call per file for the run's workers, with the
// retry policy and byte-range continuation. One instance lives as long as the download
// manager; its transfers run on one transfer thread. Pause and stop belong to each run's
// gate, never to the coordinator: a run that ends paused leaves nothing behind for the next.
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
    // the file. Each attempt first passes `gate` (held while paused); ends with
    // CancelToken::stopped() once the gate is cancelled or its token fires.
    Status download(const FileTransfer &transfer, const Progress &progress, ControlGate &gate);

    // After `gate.pause()`: closes the run's connections at once (no byte moves while paused,
    // however long) and keeps every ".part"; `gate.resume()` continues the same files by
    // byte range.
    void suspend(const ControlGate &gate);
    // After `gate.cancel()`: ends the run's transfers in flight at once.
    void stop(const ControlGate &gate);

    int transfersInFlight() const { return m_loop->runningCount(); }

private:
    TransferAttemptResult runAttempt(const TransferAttempt &attempt, const Progress &progress,
                                     const ControlGate &gate);

    Options m_options;
    DigestWorker m_digests; // outlives the loop, whose thread hands it the bodies
    std::unique_ptr<CurlTransferLoop> m_loop;
};
