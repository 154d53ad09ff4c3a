#include "yandex/transfer_coordinator.h"

#include "app/file_names.h"
#include "app/platform/curl_http_client.h"

#include <QFile>

#include <chrono>
#include <future>

namespace {

bool isSuccessStatus(int status)
{
    return status >= 200 && status <= 299;
}

QString statusMessage(const QString &name, int status)
{
    return QStringLiteral("Файл «%1» не скачан: сервер ответил HTTP %2").arg(name).arg(status);
}

QString corruptMessage(const QString &name)
{
    return QStringLiteral("Файл «%1» повреждён при загрузке").arg(name);
}

QString writeMessage(const QString &name, int error)
{
    if (isDiskFull(error))
        return QStringLiteral("Не удалось записать файл «%1»: на диске закончилось место")
            .arg(name);
    return QStringLiteral("Не удалось записать файл «%1»").arg(name);
}

// "bytes */1234": the full size the server states when refusing a range.
qint64 unsatisfiedRangeTotal(const std::optional<QByteArray> &contentRange)
{
    if (!contentRange)
        return -1;
    const QByteArray text = contentRange->trimmed();
    if (!text.startsWith("bytes */"))
        return -1;
    bool ok = false;
    const qint64 total = text.mid(8).toLongLong(&ok);
    return ok ? total : -1;
}

} // namespace

TransferCoordinator::TransferCoordinator(Options options)
    : m_options(std::move(options)),
      m_loop(std::make_unique<CurlTransferLoop>(QFile::encodeName(m_options.caBundlePath),
                                                m_options.maxConnectionsPerHost))
{
    if (!m_options.sleep)
        m_options.sleep = realSleep();
}

TransferCoordinator::~TransferCoordinator() = default;

void TransferCoordinator::suspend(const ControlGate &gate)
{
    m_loop->suspend(gate);
}

void TransferCoordinator::stop(const ControlGate &gate)
{
    m_loop->cancel(gate);
}

TransferAttemptResult TransferCoordinator::runAttempt(const TransferAttempt &attempt,
                                                      const Progress &progress,
                                                      const ControlGate &gate)
{
    std::promise<TransferAttemptResult> promise;
    std::future<TransferAttemptResult> future = promise.get_future();
    m_loop->start(
        attempt,
        [&progress](qint64 written, qint64 expected) {
            if (progress)
                progress(written, expected);
        },
        [&promise](const TransferAttemptResult &result) { promise.set_value(result); }, gate);
    return future.get();
}

Status TransferCoordinator::download(const FileTransfer &transfer, const Progress &progress,
                                     ControlGate &gate)
{
    const CancelToken &cancel = gate.token();
    using End = TransferAttemptResult::End;
    TransferAttempt attempt;
    attempt.url = transfer.url;
    attempt.filePath = transfer.partPath;
    attempt.sizeHint = transfer.listedSize;
    attempt.requestTimeoutSeconds = m_options.requestTimeoutSeconds;
    attempt.resourceTimeoutSeconds = m_options.resourceTimeoutSeconds;

    std::optional<StreamDigest> digest;
    if (!transfer.digest.isEmpty()) {
        digest.emplace(transfer.digest.algorithm, m_digests);
        attempt.digest = &*digest;
    }

    int attemptNumber = 1;
    bool refetched = false; // the body was fetched once more after a digest mismatch
    bool linkRenewed = false;
    bool bodyStarted = false;  // the current link has already served this file's bytes
    bool rangeRefused = false; // the host mishandled a range once: start over, never again
    std::optional<NetworkOutage::Clock::time_point> downSince;

    // Waits before a retry; false when the wait was cut short by a stop.
    auto backOff = [&](double seconds) { return m_options.sleep(seconds, cancel); };
    // The body is whole: the file is done when it hashes as listed; nothing means fetch again.
    auto checked = [&]() -> std::optional<Status> {
        if (!digest || digest->result() == transfer.digest.hex)
            return Status(Done{});
        if (refetched)
            return Status(AppError(corruptMessage(transfer.displayName), ErrorKind::Decoding));
        refetched = true;
        QFile::remove(transfer.partPath);
        attempt.offset = 0;
        return std::nullopt;
    };

    for (;;) {
        if (cancel.isCancelled() || !gate.waitUntilReady())
            return CancelToken::stopped();
        TransferAttemptResult result = runAttempt(attempt, progress, gate);
        // An answer or new bytes mean the network was up: a later outage gets its own 600 s.
        if (result.status != 0 || result.fileSize > attempt.offset)
            downSince.reset();
        if (isSuccessStatus(result.status))
            bodyStarted = true;
        if (result.end == End::Completed && result.expectedTotal < 0 && transfer.listedSize > 0
            && result.fileSize < transfer.listedSize) {
            // No length was announced and the body ended short of the listed size: the
            // connection was cut, the file is not finished.
            result.end = End::NetworkFailed;
            result.error = CurlSupport::translate(CURLE_PARTIAL_FILE, 0);
        }

        switch (result.end) {
        case End::Completed:
            if (std::optional<Status> end = checked())
                return *end;
            continue;
        case End::Cancelled:
            return CancelToken::stopped();
        case End::Suspended:
            attempt.offset = result.fileSize;
            continue;
        case End::RangeMismatch:
            if (rangeRefused)
                return AppError(statusMessage(transfer.displayName, result.status),
                                ErrorKind::HttpStatus);
            rangeRefused = true;
            attempt.offset = 0;
            continue;
        case End::WriteFailed:
            return AppError(writeMessage(transfer.displayName, result.writeErrno),
                            ErrorKind::FileSystem);
        case End::HttpStatus: {
            const int status = result.status;
            if (status == 416 && attempt.offset > 0) {
                if (unsatisfiedRangeTotal(result.contentRange) == attempt.offset) {
                    // The file was already whole when the connection closed.
                    if (std::optional<Status> end = checked())
                        return *end;
                    continue;
                }
                if (!rangeRefused) {
                    rangeRefused = true;
                    attempt.offset = 0;
                    continue;
                }
            }
            const bool refused = status == 403 || status == 410
                                 || (status == 404 && transfer.listedLink && !bodyStarted);
            if (refused && !linkRenewed && transfer.renewLink) {
                linkRenewed = true;
                Result<QUrl> fresh = transfer.renewLink();
                if (!fresh)
                    return fresh.error();
                attempt.url = fresh.value();
                bodyStarted = false;
                continue;
            }
            if (isRetryableStatus(status) && attemptNumber < kMaxAttempts) {
                if (!backOff(retryDelaySeconds(result.retryAfter, attemptNumber)))
                    return CancelToken::stopped();
                ++attemptNumber;
                attempt.offset = result.fileSize;
                continue;
            }
            return AppError(statusMessage(transfer.displayName, status), ErrorKind::HttpStatus);
        }
        case End::NetworkFailed:
            if (m_options.outage && NetworkOutage::isNetworkDown(result.error)) {
                // An outage costs no attempt; the file continues by range once it is over.
                downSince = downSince.value_or(NetworkOutage::Clock::now());
                const auto wait = m_options.outage->waitForNetwork(attempt.url, *downSince, cancel);
                if (wait == NetworkOutage::Wait::Stopped)
                    return CancelToken::stopped();
                if (wait == NetworkOutage::Wait::Back) {
                    attempt.offset = result.fileSize;
                    continue;
                }
            }
            if (result.error.isTransient() && attemptNumber < kMaxAttempts) {
                if (!backOff(retryDelaySeconds(std::nullopt, attemptNumber)))
                    return CancelToken::stopped();
                ++attemptNumber;
                attempt.offset = result.fileSize;
                continue;
            }
            return AppError(result.error.message, ErrorKind::Network);
        }
    }
}
