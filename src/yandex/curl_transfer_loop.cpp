#include "yandex/curl_transfer_loop.h"

#include "app/platform/curl_http_client.h"
#include "yandex/stream_digest.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A big receive buffer means fewer callbacks and writes per byte on a fast link. libcurl
// allocates it anew for every transfer, though, and a buffer above the allocator's mapping
// threshold (128 KiB) comes as fresh pages that fault in one by one: in a folder of thousands
// of small files that costs more system time than the transfers. Small bodies get a buffer
// the allocator keeps reusing; big ones, where one allocation is nothing, the big one.
constexpr long kSmallReceiveBuffer = 100 * 1024;
constexpr long kLargeReceiveBuffer = 512 * 1024;
constexpr qint64 kLargeBody = qint64(8) << 20;
constexpr int kIdlePollMs = 1000;

bool isSuccess(long status)
{
    return status >= 200 && status < 300;
}

struct ContentRange {
    qint64 first = -1;
    qint64 total = -1; // -1 for "*"
};

// "bytes 100-199/1000" or "bytes 100-199/*".
std::optional<ContentRange> parseContentRange(const QByteArray &value)
{
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return std::nullopt;
    const QByteArray byteRange = text.mid(6).trimmed();
    const qsizetype dash = byteRange.indexOf('-');
    const qsizetype slash = byteRange.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return std::nullopt;
    bool ok = false;
    ContentRange range;
    range.first = byteRange.left(dash).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    const QByteArray total = byteRange.mid(slash + 1);
    if (total != "*") {
        range.total = total.toLongLong(&ok);
        if (!ok)
            return std::nullopt;
    }
    return range;
}

} // namespace

struct CurlTransferLoop::Running {
    TransferAttempt attempt;
    Progress progress;
    Done done;
    const ControlGate *gate = nullptr;
    CancelToken cancel;
    QByteArray url;
    QByteArray range;
    CURL *easy = nullptr;
    int fd = -1;
    bool decided = false; // the answer's status has been looked at
    qint64 fileSize = 0;
    qint64 expectedTotal = -1;
    int status = 0;
    std::optional<QByteArray> retryAfter;
    std::optional<QByteArray> contentRange;
    std::optional<TransferAttemptResult::End> abortedAs;
    int writeErrno = 0;
    CURLcode failure = CURLE_OK;

    // At the first body byte (or at the end of an empty answer): only a 2xx answer may
    // touch the file, and a range answer only when it starts where the file ends.
    bool decide()
    {
        decided = true;
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        status = int(code);
        if (!isSuccess(code)) {
            abortedAs = TransferAttemptResult::End::HttpStatus;
            return false;
        }
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        qint64 base = 0;
        if (attempt.offset > 0 && code == 206) {
            const auto parsed = contentRange ? parseContentRange(*contentRange) : std::nullopt;
            if (!parsed || parsed->first != attempt.offset) {
                abortedAs = TransferAttemptResult::End::RangeMismatch;
                return false;
            }
            base = attempt.offset;
            expectedTotal =
                parsed->total >= 0 ? parsed->total : (length >= 0 ? base + qint64(length) : -1);
        } else {
            // No range asked, or the server ignored it: the body is the whole file.
            expectedTotal = length >= 0 ? qint64(length) : -1;
        }
        const QByteArray path = QFile::encodeName(attempt.filePath);
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (base == 0 ? O_TRUNC : 0),
                    0644);
        if (fd < 0
            || (base > 0 && (::ftruncate(fd, base) != 0 || ::lseek(fd, base, SEEK_SET) < 0))) {
            writeErrno = errno;
            abortedAs = TransferAttemptResult::End::WriteFailed;
            return false;
        }
        fileSize = base;
        if (attempt.digest && base == 0)
            attempt.digest->restart();
        if (progress)
            progress(fileSize, expectedTotal);
        return true;
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *user)
    {
        auto *self = static_cast<Running *>(user);
        const size_t length = size * count;
        const QByteArray line = QByteArray(data, qsizetype(length)).trimmed();
        if (line.startsWith("HTTP/")) {
            self->retryAfter.reset();
            self->contentRange.reset();
            return length;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return length;
        const QByteArray name = line.left(colon).trimmed().toLower();
        if (name == "retry-after")
            self->retryAfter = line.mid(colon + 1).trimmed();
        else if (name == "content-range")
            self->contentRange = line.mid(colon + 1).trimmed();
        return length;
    }

    static size_t onBody(char *data, size_t size, size_t count, void *user)
    {
        auto *self = static_cast<Running *>(user);
        const size_t length = size * count;
        if (!self->decided && !self->decide())
            return 0;
        size_t done = 0;
        while (done < length) {
            const ssize_t n = ::write(self->fd, data + done, length - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                self->writeErrno = errno;
                self->abortedAs = TransferAttemptResult::End::WriteFailed;
                return 0;
            }
            done += size_t(n);
        }
        self->fileSize += qint64(length);
        if (self->attempt.digest)
            self->attempt.digest->add(data, qsizetype(length));
        if (self->progress)
            self->progress(self->fileSize, self->expectedTotal);
        return length;
    }

    static int onTransferInfo(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        return static_cast<Running *>(user)->cancel.isCancelled() ? 1 : 0;
    }
};

CurlTransferLoop::CurlTransferLoop(QByteArray caBundlePath, int maxConnectionsPerHost)
    : m_caBundlePath(std::move(caBundlePath))
{
    CurlSupport::ensureInitialized();
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, long(maxConnectionsPerHost));
    m_thread = std::thread([this] { run(); });
}

CurlTransferLoop::~CurlTransferLoop()
{
    {
        std::lock_guard lock(m_commandsMutex);
        m_quit = true;
    }
    curl_multi_wakeup(m_multi);
    m_thread.join();
    curl_multi_cleanup(m_multi);
}

void CurlTransferLoop::post(std::function<void()> command)
{
    {
        std::lock_guard lock(m_commandsMutex);
        m_commands.push_back(std::move(command));
    }
    curl_multi_wakeup(m_multi);
}

void CurlTransferLoop::start(TransferAttempt attempt, Progress progress, Done done,
                             const ControlGate &gate)
{
    auto running = std::make_unique<Running>();
    running->attempt = std::move(attempt);
    running->progress = std::move(progress);
    running->done = std::move(done);
    running->gate = &gate;
    running->cancel = gate.token();
    {
        std::lock_guard lock(m_commandsMutex);
        if (!m_quit) {
            // shared_ptr only because std::function must be copyable.
            auto holder = std::make_shared<std::unique_ptr<Running>>(std::move(running));
            m_commands.push_back([this, holder] { begin(std::move(*holder)); });
        }
    }
    if (running) {
        TransferAttemptResult result;
        result.end = TransferAttemptResult::End::Cancelled;
        result.fileSize = running->attempt.offset;
        running->done(result);
        return;
    }
    curl_multi_wakeup(m_multi);
}

void CurlTransferLoop::suspend(const ControlGate &gate)
{
    post([this, &gate] { finishAll(TransferAttemptResult::End::Suspended, &gate); });
}

void CurlTransferLoop::cancel(const ControlGate &gate)
{
    post([this, &gate] { finishAll(TransferAttemptResult::End::Cancelled, &gate); });
}

void CurlTransferLoop::run()
{
    for (;;) {
        std::deque<std::function<void()>> commands;
        bool quit = false;
        {
            std::lock_guard lock(m_commandsMutex);
            commands.swap(m_commands);
            quit = m_quit;
        }
        for (auto &command : commands)
            command();
        if (quit) {
            finishAll(TransferAttemptResult::End::Cancelled);
            return;
        }
        int stillRunning = 0;
        curl_multi_perform(m_multi, &stillRunning);
        collectFinished();
        curl_multi_poll(m_multi, nullptr, 0, kIdlePollMs, nullptr);
    }
}

void CurlTransferLoop::begin(std::unique_ptr<Running> running)
{
    Running *r = running.get();
    m_active.push_back(std::move(running));
    ++m_running;
    // Set before anything can end the attempt: a bounced attempt reports the bytes already
    // there, so that the next one continues from them.
    r->fileSize = r->attempt.offset;
    if (r->gate->isPaused()) {
        finish(r, TransferAttemptResult::End::Suspended);
        return;
    }
    if (r->cancel.isCancelled()) {
        finish(r, TransferAttemptResult::End::Cancelled);
        return;
    }
    r->url = r->attempt.url.toEncoded();
    r->easy = curl_easy_init();
    CURL *easy = r->easy;
    curl_easy_setopt(easy, CURLOPT_URL, r->url.constData());
    CurlSupport::applyTransportRules(easy, m_caBundlePath);
    CurlSupport::applyTimeouts(easy, r->attempt.requestTimeoutSeconds,
                               r->attempt.resourceTimeoutSeconds);
    // Over HTTP/2 transfers to one host would share one connection, where pausing a stream
    // does not stop its bytes and "8 at once" would mean one socket.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    const bool large = r->attempt.sizeHint <= 0 || r->attempt.sizeHint >= kLargeBody;
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, large ? kLargeReceiveBuffer : kSmallReceiveBuffer);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, r);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Running::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, r);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Running::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, r);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Running::onTransferInfo);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, r);
    if (r->attempt.offset > 0) {
        r->range = QByteArray::number(r->attempt.offset) + '-';
        curl_easy_setopt(easy, CURLOPT_RANGE, r->range.constData());
    }
    if (r->progress)
        r->progress(r->fileSize, -1);
    curl_multi_add_handle(m_multi, easy);
}

void CurlTransferLoop::collectFinished()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        Running *r = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &r);
        const CURLcode code = message->data.result;
        if (!r)
            continue;
        using End = TransferAttemptResult::End;
        if (r->abortedAs) {
            finish(r, *r->abortedAs);
        } else if (code == CURLE_ABORTED_BY_CALLBACK) {
            finish(r, End::Cancelled);
        } else if (code != CURLE_OK) {
            r->failure = code;
            finish(r, End::NetworkFailed);
        } else if (!r->decided && !r->decide()) {
            finish(r, *r->abortedAs);
        } else {
            finish(r, End::Completed);
        }
    }
}

void CurlTransferLoop::finish(Running *r, TransferAttemptResult::End end)
{
    TransferAttemptResult result;
    result.end = end;
    if (r->easy) {
        if (end == TransferAttemptResult::End::NetworkFailed) {
            long osErrno = 0;
            curl_easy_getinfo(r->easy, CURLINFO_OS_ERRNO, &osErrno);
            result.error = CurlSupport::translate(r->failure, osErrno);
        }
        if (!r->decided) {
            long code = 0;
            curl_easy_getinfo(r->easy, CURLINFO_RESPONSE_CODE, &code);
            r->status = int(code);
        }
        curl_multi_remove_handle(m_multi, r->easy);
        curl_easy_cleanup(r->easy);
        r->easy = nullptr;
    }
    if (r->fd >= 0)
        ::close(r->fd);
    r->fd = -1;
    result.status = r->status;
    result.retryAfter = r->retryAfter;
    result.contentRange = r->contentRange;
    result.fileSize = r->fileSize;
    result.expectedTotal = r->expectedTotal;
    result.writeErrno = r->writeErrno;
    if (end == TransferAttemptResult::End::Completed && r->expectedTotal >= 0
        && r->fileSize < r->expectedTotal) {
        // The connection ended before the announced length: never a finished file.
        result.end = TransferAttemptResult::End::NetworkFailed;
        result.error = CurlSupport::translate(CURLE_PARTIAL_FILE, 0);
    }
    Done done = std::move(r->done);
    for (auto it = m_active.begin(); it != m_active.end(); ++it) {
        if (it->get() == r) {
            m_active.erase(it);
            break;
        }
    }
    --m_running;
    done(result);
}

void CurlTransferLoop::finishAll(TransferAttemptResult::End end, const ControlGate *gate)
{
    std::vector<Running *> ending;
    for (const auto &running : m_active) {
        if (!gate || running->gate == gate)
            ending.push_back(running.get());
    }
    for (Running *running : ending)
        finish(running, end);
}
