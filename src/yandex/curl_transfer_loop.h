#pragma once

#include "app/cancel_token.h"
#include "app/platform/http_client.h"
#include "yandex/control_gate.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <curl/curl.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class StreamDigest;

// One request for a file body: fetch `url` into `filePath`, appending from `offset` when
// the server honours a byte range (a 206 whose Content-Range starts at `offset`), else
// writing the whole body from the start.
struct TransferAttempt {
    QUrl url;
    QString filePath;
    qint64 offset = 0;
    qint64 sizeHint = 0; // the whole file's size as listed; 0 when unknown
    double requestTimeoutSeconds = 300;
    double resourceTimeoutSeconds = 604800;
    // Gets every byte written to the file, and restarts when the body starts over from 0.
    StreamDigest *digest = nullptr;
};

// How one attempt ended. The file is only ever written from a 2xx answer.
struct TransferAttemptResult {
    enum class End {
        Completed,     // the whole body is in the file
        NetworkFailed, // see `error`; the file keeps what arrived
        HttpStatus,    // a non-2xx answer; the file is untouched
        WriteFailed,   // the local file could not be written; see `writeErrno`
        RangeMismatch, // a 206 for another range than asked: start over without one
        Suspended,     // its run paused: the connection is closed, the file keeps what arrived
        Cancelled,
    };
    End end = End::Cancelled;
    NetworkError error;
    int status = 0;                       // of the last answer, 0 when none arrived
    std::optional<QByteArray> retryAfter; // of the last answer
    std::optional<QByteArray> contentRange;
    qint64 fileSize = 0;       // bytes in the file when the attempt ended
    qint64 expectedTotal = -1; // full size by the server's headers, -1 when not told
    int writeErrno = 0;
};

// libcurl's multi interface on one transfer thread that owns every easy handle and file
// descriptor of the file transfers. Other threads only post commands to it (woken with
// curl_multi_wakeup), so pause and stop never touch a handle from outside. Every attempt
// belongs to its run's gate: the loop keeps no pause of its own, so nothing of one run's pause
// or stop can outlive that run. Owned by TransferCoordinator.
class CurlTransferLoop {
public:
    using Progress = std::function<void(qint64 fileBytes, qint64 expectedTotal)>;
    using Done = std::function<void(const TransferAttemptResult &)>;

    CurlTransferLoop(QByteArray caBundlePath, int maxConnectionsPerHost);
    ~CurlTransferLoop();

    CurlTransferLoop(const CurlTransferLoop &) = delete;
    CurlTransferLoop &operator=(const CurlTransferLoop &) = delete;

    // `progress` and `done` run on the transfer thread and must not block; `done` runs
    // exactly once. An attempt that begins while `gate` is paused ends as Suspended at once;
    // one whose gate's token fires ends as Cancelled. `gate` outlives the attempt.
    void start(TransferAttempt attempt, Progress progress, Done done, const ControlGate &gate);
    // Closes the running attempts of `gate` (Suspended); pause the gate first, so that its
    // later attempts are bounced too.
    void suspend(const ControlGate &gate);
    // Ends the running attempts of `gate` as Cancelled.
    void cancel(const ControlGate &gate);

    // Attempts on the wire right now.
    int runningCount() const { return m_running.load(); }

private:
    struct Running;
    void post(std::function<void()> command);
    void run();
    void begin(std::unique_ptr<Running> running);
    void finish(Running *running, TransferAttemptResult::End end);
    // Every running attempt of `gate`, or of every gate when it is null.
    void finishAll(TransferAttemptResult::End end, const ControlGate *gate = nullptr);
    void collectFinished();

    QByteArray m_caBundlePath;
    CURLM *m_multi = nullptr; // touched only on the transfer thread, apart from the wake-up
    std::mutex m_commandsMutex;
    std::deque<std::function<void()>> m_commands;
    bool m_quit = false;
    // Transfer-thread state.
    std::deque<std::unique_ptr<Running>> m_active;
    std::atomic<int> m_running{0};
    std::thread m_thread;
};
