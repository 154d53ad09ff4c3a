#include "support/fixture_server.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <httplib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr qint64 kChunkBytes = 64 * 1024;
constexpr int kWorkerThreads = 64;
constexpr time_t kSocketTimeoutSeconds = 60;

// ---- small helpers ---------------------------------------------------------

QString decodeComponent(QByteArray raw, bool plusIsSpace)
{
    if (plusIsSpace)
        raw.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(raw));
}

bool allDigits(const QByteArray &text)
{
    return !text.isEmpty()
           && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A single byte range resolved against a body of `size` bytes.
struct RangeChoice {
    enum Kind { Whole, Slice, Unsatisfiable } kind = Whole;
    qint64 first = 0;
    qint64 last = -1;
};

// Single ranges only; anything else (several ranges, bad syntax, another unit)
// is ignored and the whole body is sent, as HTTP allows.
RangeChoice chooseRange(const QByteArray &header, qint64 size)
{
    RangeChoice whole;
    const QByteArray value = header.trimmed();
    if (value.isEmpty() || !value.toLower().startsWith("bytes="))
        return whole;
    const QByteArray rangeText = value.mid(6).trimmed();
    if (rangeText.contains(','))
        return whole;
    const qsizetype dash = rangeText.indexOf('-');
    if (dash < 0)
        return whole;
    const QByteArray a = rangeText.left(dash).trimmed();
    const QByteArray b = rangeText.mid(dash + 1).trimmed();

    RangeChoice slice;
    slice.kind = RangeChoice::Slice;
    if (a.isEmpty()) { // suffix: the last b bytes
        if (!allDigits(b))
            return whole;
        const qint64 suffix = b.toLongLong();
        if (suffix == 0 || size == 0)
            return {RangeChoice::Unsatisfiable};
        slice.first = std::max<qint64>(0, size - suffix);
        slice.last = size - 1;
        return slice;
    }
    if (!allDigits(a) || (!b.isEmpty() && !allDigits(b)))
        return whole;
    slice.first = a.toLongLong();
    const qint64 requestedLast = b.isEmpty() ? size - 1 : b.toLongLong();
    if (requestedLast < slice.first && !b.isEmpty())
        return whole;
    if (slice.first >= size)
        return {RangeChoice::Unsatisfiable};
    slice.last = std::min(requestedLast, size - 1);
    return slice;
}

quint16 portOf(const sockaddr_storage &address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return 0;
}

// Calls visit(fd, peerPort) for every connected socket of this process whose
// local port is `serverPort` (the server's side of its connections).
template <typename Visit> void forEachServerConnection(int serverPort, Visit visit)
{
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return;
    const int ownFd = dirfd(dir);
    while (dirent *entry = readdir(dir)) {
        char *end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == ownFd)
            continue;
        struct stat info {};
        if (fstat(int(fd), &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        if (getsockname(int(fd), reinterpret_cast<sockaddr *>(&local), &length) != 0
            || portOf(local) != serverPort)
            continue;
        sockaddr_storage peer{};
        length = sizeof peer;
        if (getpeername(int(fd), reinterpret_cast<sockaddr *>(&peer), &length) != 0)
            continue;
        if (!visit(int(fd), portOf(peer)))
            break;
    }
    closedir(dir);
}

int findConnection(int serverPort, int clientPort)
{
    int found = -1;
    forEachServerConnection(serverPort, [&](int fd, quint16 peerPort) {
        if (peerPort != clientPort)
            return true;
        found = fd;
        return false;
    });
    return found;
}

bool peerHasLeft(int fd)
{
    if (fd < 0)
        return false;
    pollfd p{fd, POLLRDHUP, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// httplib listens with a backlog of 5: a burst of connections overflows it and
// the client retries only after a second. Its socket is protected; reach it
// through a member pointer taken in a derived class.
struct ListeningSocket : httplib::Server {
    static int of(const httplib::Server &server)
    {
        return (server.*(&ListeningSocket::svr_sock_)).load();
    }
};

// Closes a file descriptor when the last owner lets go.
struct FileHandle {
    explicit FileHandle(int fd) : fd(fd) {}
    ~FileHandle()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    int fd;
};

} // namespace

// ---- Request helpers ---------------------------------------------------------

QByteArray FixtureServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool FixtureServer::Request::hasHeader(const QByteArray &name) const
{
    return std::any_of(headers.begin(), headers.end(), [&](const auto &h) {
        return h.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

QString FixtureServer::Request::queryValue(const QString &key) const
{
    for (const auto &[k, v] : query) {
        if (k == key)
            return v;
    }
    return {};
}

bool FixtureServer::Request::hasQueryItem(const QString &key) const
{
    return std::any_of(query.begin(), query.end(), [&](const auto &q) { return q.first == key; });
}

// ---- Implementation -------------------------------------------------------------

struct FixtureServer::Impl {
    struct Route {
        enum Kind { Bytes, File, Api } kind = Bytes;
        QByteArray bytes;
        QString filePath;
        QByteArray contentType;
        Handler handler;
    };

    // Decrements the active count when the answer is finished or abandoned.
    struct ActiveGuard {
        explicit ActiveGuard(Impl *impl) : impl(impl) {}
        ~ActiveGuard()
        {
            std::lock_guard lock(impl->mutex);
            --impl->active;
        }
        ActiveGuard(const ActiveGuard &) = delete;
        ActiveGuard &operator=(const ActiveGuard &) = delete;
        Impl *impl;
    };

    // Where body bytes come from.
    struct Source {
        QByteArray bytes;                 // memory, or...
        std::shared_ptr<FileHandle> file; // ...a file read in chunks
        qint64 offset = 0;                // first byte of the source to send
        qint64 length = 0;                // bytes to send
    };

    // Writes one answer's body in chunks, applying its fault. Lives inside the
    // httplib content provider, so it dies with the response.
    struct BodyWriter {
        Impl *impl = nullptr;
        QString path;
        Source source;
        Fault fault;
        qint64 bytesPerSecond = 0;
        int clientPort = -1;
        bool closeWhenDone = false;
        std::shared_ptr<ActiveGuard> guard;

        qint64 sent = 0;
        bool stallDone = false;
        Clock::time_point rateStart = Clock::now();
        qint64 rateBase = 0;
        std::vector<char> buffer;

        bool writeNext(httplib::DataSink &sink)
        {
            if (sent >= source.length)
                return !closeWhenDone; // false ends a close-delimited body by closing
            if (fault.dropAfterBytes >= 0 && sent >= fault.dropAfterBytes)
                return false;
            if (fault.stallAfterBytes >= 0 && !stallDone && sent >= fault.stallAfterBytes) {
                stallDone = true;
                if (!stall())
                    return false;
                rateStart = Clock::now();
                rateBase = sent;
            }

            qint64 n = std::min(kChunkBytes, source.length - sent);
            if (bytesPerSecond > 0)
                n = std::min(n, std::clamp<qint64>(bytesPerSecond / 20, 1, kChunkBytes));
            if (fault.dropAfterBytes >= 0)
                n = std::min(n, fault.dropAfterBytes - sent);
            if (fault.stallAfterBytes >= 0 && !stallDone)
                n = std::min(n, fault.stallAfterBytes - sent);

            if (bytesPerSecond > 0) {
                const std::chrono::duration<double> seconds(double(sent - rateBase + n)
                                                            / double(bytesPerSecond));
                const auto due = rateStart + std::chrono::duration_cast<Clock::duration>(seconds);
                if (!impl->sleepUntil(due))
                    return false;
            }

            // The answer stops counting as active before its last bytes go out: a client that
            // has the whole body may start its next request at once, and must not find this one
            // still on the books.
            if (sent + n >= source.length && !closeWhenDone)
                guard.reset();

            const char *data = nullptr;
            if (source.file) {
                buffer.resize(size_t(n));
                qint64 got = 0;
                while (got < n) {
                    const ssize_t r = ::pread(source.file->fd, buffer.data() + got, size_t(n - got),
                                              off_t(source.offset + sent + got));
                    if (r <= 0)
                        return false; // the file shrank or failed: cut the answer short
                    got += r;
                }
                data = buffer.data();
            } else {
                data = source.bytes.constData() + source.offset + sent;
            }
            // Counted before the write so that a client never holds more than
            // bytesSent() says; taken back if the write fails.
            impl->countSent(path, n);
            if (!sink.write(data, size_t(n))) {
                impl->countSent(path, -n);
                return false;
            }
            sent += n;
            return true;
        }

        bool stall()
        {
            if (fault.stallMs >= 0)
                return impl->sleepUntil(Clock::now() + std::chrono::milliseconds(fault.stallMs));
            // Until stopped or the client leaves.
            const int fd = findConnection(impl->port, clientPort);
            std::unique_lock lock(impl->mutex);
            while (!impl->stopping) {
                impl->changed.wait_for(lock, std::chrono::milliseconds(50));
                if (peerHasLeft(fd))
                    return false;
            }
            return false;
        }
    };

    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    std::atomic<bool> listenerDone{false};
    std::atomic<bool> listening{false};
    std::mutex stopMutex;
    int port = 0;
    bool tls = false;
    QString error;
    const Clock::time_point started = Clock::now();

    mutable std::mutex mutex;
    mutable std::condition_variable changed; // a request arrived, or stop
    bool stopping = false;
    std::map<QString, std::shared_ptr<const Route>> routes;
    std::map<QString, std::deque<Fault>> scripts;
    std::map<QString, int> counts;
    std::map<QString, qint64> sentByPath;
    QList<Request> log;
    qint64 sentTotal = 0;
    qint64 defaultBytesPerSecond = 0;
    int active = 0;
    int maxActive = 0;

    // Waits until `due`; false if the server is stopping.
    bool sleepUntil(Clock::time_point due)
    {
        std::unique_lock lock(mutex);
        return !changed.wait_until(lock, due, [this] { return stopping; });
    }

    void countSent(const QString &path, qint64 n)
    {
        std::lock_guard lock(mutex);
        sentByPath[path] += n;
        sentTotal += n;
    }

    void start(std::unique_ptr<httplib::Server> s)
    {
        server = std::move(s);
        if (!server->is_valid()) {
            error = QStringLiteral("the server could not be set up (certificate or key?)");
            return;
        }
        server->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
        server->set_keep_alive_max_count(1000);
        server->set_read_timeout(kSocketTimeoutSeconds);
        server->set_write_timeout(kSocketTimeoutSeconds);
        server->set_tcp_nodelay(true);

        const auto dispatch = [this](const httplib::Request &req, httplib::Response &res) {
            answer(req, res);
        };
        server->Get(".*", dispatch);
        server->Post(".*", dispatch);
        server->Put(".*", dispatch);
        server->Patch(".*", dispatch);
        server->Delete(".*", dispatch);
        server->Options(".*", dispatch);

        port = server->bind_to_any_port("127.0.0.1");
        if (port <= 0) {
            error = QStringLiteral("could not bind 127.0.0.1");
            port = 0;
            return;
        }
        if (::listen(ListeningSocket::of(*server), SOMAXCONN) != 0) {
            error = QStringLiteral("could not enlarge the listen backlog");
            return;
        }
        listener = std::thread([this] {
            server->listen_after_bind();
            listenerDone = true;
        });
        // httplib's stop() does nothing until the listener has started running.
        while (!server->is_running() && !listenerDone)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        listening = !listenerDone;
    }

    void stop()
    {
        const std::lock_guard once(stopMutex);
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        listening = false;
        if (!listener.joinable())
            return;
        server->stop();
        // The listener returns once every connection thread has finished. Idle
        // keep-alive connections and clients that stopped reading would hold
        // them for seconds, so cut them.
        while (!listenerDone) {
            forEachServerConnection(port, [](int fd, quint16) {
                ::shutdown(fd, SHUT_RDWR);
                return true;
            });
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        listener.join();
    }

    static Request record(const httplib::Request &req, qint64 receivedMs)
    {
        Request r;
        r.method = QByteArray::fromStdString(req.method);
        r.target = QByteArray::fromStdString(req.target);
        const qsizetype question = r.target.indexOf('?');
        r.path = decodeComponent(r.target.left(question < 0 ? r.target.size() : question), false);
        if (question >= 0) {
            const QList<QByteArray> items = r.target.mid(question + 1).split('&');
            for (const QByteArray &item : items) {
                if (item.isEmpty())
                    continue;
                const qsizetype eq = item.indexOf('=');
                r.query.append({decodeComponent(eq < 0 ? item : item.left(eq), true),
                                eq < 0 ? QString() : decodeComponent(item.mid(eq + 1), true)});
            }
        }
        for (const auto &[key, value] : req.headers) {
            // httplib adds the connection's addresses as pseudo headers.
            if (key == "REMOTE_ADDR" || key == "REMOTE_PORT" || key == "LOCAL_ADDR"
                || key == "LOCAL_PORT")
                continue;
            r.headers.append({QByteArray::fromStdString(key), QByteArray::fromStdString(value)});
        }
        r.body = QByteArray::fromStdString(req.body);
        r.receivedMs = receivedMs;
        return r;
    }

    void answer(const httplib::Request &req, httplib::Response &res)
    {
        // httplib would apply the Range header again to whatever we answer (and
        // gets it wrong for content providers): ranges are ours alone.
        const_cast<httplib::Request &>(req).ranges.clear();

        const qint64 receivedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        Request request = record(req, receivedMs);
        const QString path = request.path;

        Fault fault;
        std::shared_ptr<const Route> route;
        qint64 serverRate = 0;
        {
            std::lock_guard lock(mutex);
            ++counts[path];
            log.append(request);
            ++active;
            maxActive = std::max(maxActive, active);
            auto script = scripts.find(path);
            if (script != scripts.end() && !script->second.empty()) {
                fault = script->second.front();
                script->second.pop_front();
            }
            auto found = routes.find(path);
            if (found != routes.end())
                route = found->second;
            serverRate = defaultBytesPerSecond;
        }
        changed.notify_all();
        auto guard = std::make_shared<ActiveGuard>(this);

        if (fault.delayBeforeHeadersMs > 0
            && !sleepUntil(Clock::now() + std::chrono::milliseconds(fault.delayBeforeHeadersMs))) {
            res.status = 503;
            res.set_header("Connection", "close");
            res.content_provider_resource_releaser_ = [guard](bool) {};
            return;
        }

        int status = 200;
        QByteArray contentType = "application/octet-stream";
        HeaderList headers;
        Source source;
        bool isContent = false;

        if (fault.status != 0) {
            status = fault.status;
            source.bytes = fault.body;
            source.length = fault.body.size();
            contentType = "text/plain; charset=utf-8";
        } else if (!route) {
            status = 404;
            source.bytes = "not found\n";
            source.length = source.bytes.size();
            contentType = "text/plain; charset=utf-8";
        } else if (route->kind == Route::Api) {
            const Reply reply = route->handler(request);
            status = reply.status;
            contentType = reply.contentType;
            for (const auto &header : reply.headers) {
                if (header.first.compare("Content-Type", Qt::CaseInsensitive) == 0)
                    contentType = header.second;
                else if (header.first.compare("Content-Length", Qt::CaseInsensitive) != 0)
                    headers.append(header);
            }
            source.bytes = reply.body;
            source.length = reply.body.size();
        } else {
            isContent = true;
            contentType = route->contentType;
            qint64 size = 0;
            if (route->kind == Route::Bytes) {
                source.bytes = route->bytes;
                size = route->bytes.size();
            } else {
                const int fd =
                    ::open(QFile::encodeName(route->filePath).constData(), O_RDONLY | O_CLOEXEC);
                struct stat info {};
                if (fd < 0 || fstat(fd, &info) != 0) {
                    if (fd >= 0)
                        ::close(fd);
                    status = 404;
                    source.bytes = "file not found\n";
                    source.length = source.bytes.size();
                    contentType = "text/plain; charset=utf-8";
                    isContent = false;
                } else {
                    source.file = std::make_shared<FileHandle>(fd);
                    size = info.st_size;
                }
            }
            if (isContent) {
                source.length = size;
                if (!fault.ignoreRange) {
                    headers.append({QByteArray("Accept-Ranges"), QByteArray("bytes")});
                    const RangeChoice range =
                        chooseRange(QByteArray::fromStdString(req.get_header_value("Range")), size);
                    if (range.kind == RangeChoice::Unsatisfiable) {
                        status = 416;
                        headers.append(
                            {QByteArray("Content-Range"), "bytes */" + QByteArray::number(size)});
                        source = Source{};
                    } else if (range.kind == RangeChoice::Slice) {
                        status = 206;
                        headers.append(
                            {QByteArray("Content-Range"), "bytes " + QByteArray::number(range.first)
                                                              + '-' + QByteArray::number(range.last)
                                                              + '/' + QByteArray::number(size)});
                        source.offset = range.first;
                        source.length = range.last - range.first + 1;
                    }
                }
            }
        }

        if (fault.retryAfter >= 0)
            headers.append({QByteArray("Retry-After"), QByteArray::number(fault.retryAfter)});

        res.status = status;
        for (const auto &[key, value] : headers)
            res.set_header(key.toStdString(), value.toStdString());

        auto writer = std::make_shared<BodyWriter>();
        writer->impl = this;
        writer->path = path;
        writer->source = source;
        writer->fault = fault;
        writer->bytesPerSecond = fault.bytesPerSecond != 0
                                     ? std::max<qint64>(0, fault.bytesPerSecond)
                                 : isContent ? serverRate
                                             : 0;
        writer->clientPort = req.remote_port;
        writer->guard = guard;

        if (fault.omitContentLength) {
            // Close-delimited: httplib keeps such connections open after the
            // body, so the writer closes it by failing once everything is sent.
            writer->closeWhenDone = true;
            res.set_header("Connection", "close");
            res.set_content_provider(
                contentType.toStdString(),
                [writer](size_t, httplib::DataSink &sink) { return writer->writeNext(sink); });
        } else if (source.length > 0) {
            res.set_content_provider(size_t(source.length), contentType.toStdString(),
                                     [writer](size_t, size_t, httplib::DataSink &sink) {
                                         return writer->writeNext(sink);
                                     });
        } else {
            // A zero-length provider would be taken for a length-less one.
            res.set_content(std::string(), contentType.toStdString());
        }
        // Keeps the request active until httplib has finished with the response.
        res.content_provider_resource_releaser_ = [writer](bool) {};
    }
};

// ---- Public interface ---------------------------------------------------------

FixtureServer::FixtureServer() : d(std::make_unique<Impl>())
{
    d->start(std::make_unique<httplib::Server>());
}

FixtureServer::FixtureServer(const QString &certificatePath, const QString &privateKeyPath)
    : d(std::make_unique<Impl>())
{
    d->tls = true;
    d->start(std::make_unique<httplib::SSLServer>(QFile::encodeName(certificatePath).constData(),
                                                  QFile::encodeName(privateKeyPath).constData()));
}

FixtureServer::~FixtureServer()
{
    stop();
}

void FixtureServer::stop()
{
    d->stop();
}

bool FixtureServer::isListening() const
{
    return d->listening && !d->listenerDone;
}

QString FixtureServer::errorString() const
{
    return d->error;
}

quint16 FixtureServer::port() const
{
    return quint16(d->port);
}

QString FixtureServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(d->tls ? "https" : "http").arg(d->port);
}

QString FixtureServer::url(const QString &path) const
{
    return baseUrl() + path;
}

void FixtureServer::serveBytes(const QString &path, const QByteArray &body,
                               const QByteArray &contentType)
{
    auto route = std::make_shared<Impl::Route>();
    route->kind = Impl::Route::Bytes;
    route->bytes = body;
    route->contentType = contentType;
    std::lock_guard lock(d->mutex);
    d->routes[path] = std::move(route);
}

void FixtureServer::serveFile(const QString &path, const QString &filePath,
                              const QByteArray &contentType)
{
    auto route = std::make_shared<Impl::Route>();
    route->kind = Impl::Route::File;
    route->filePath = filePath;
    route->contentType = contentType;
    std::lock_guard lock(d->mutex);
    d->routes[path] = std::move(route);
}

void FixtureServer::handle(const QString &path, Handler handler)
{
    auto route = std::make_shared<Impl::Route>();
    route->kind = Impl::Route::Api;
    route->handler = std::move(handler);
    std::lock_guard lock(d->mutex);
    d->routes[path] = std::move(route);
}

void FixtureServer::remove(const QString &path)
{
    std::lock_guard lock(d->mutex);
    d->routes.erase(path);
}

void FixtureServer::script(const QString &path, const QList<Fault> &faults)
{
    std::lock_guard lock(d->mutex);
    d->scripts[path] = std::deque<Fault>(faults.begin(), faults.end());
}

void FixtureServer::setBytesPerSecond(qint64 bytesPerSecond)
{
    std::lock_guard lock(d->mutex);
    d->defaultBytesPerSecond = std::max<qint64>(0, bytesPerSecond);
}

int FixtureServer::requestCount(const QString &path) const
{
    std::lock_guard lock(d->mutex);
    const auto found = d->counts.find(path);
    return found == d->counts.end() ? 0 : found->second;
}

int FixtureServer::totalRequests() const
{
    std::lock_guard lock(d->mutex);
    return int(d->log.size());
}

int FixtureServer::activeRequests() const
{
    std::lock_guard lock(d->mutex);
    return d->active;
}

int FixtureServer::maxConcurrentRequests() const
{
    std::lock_guard lock(d->mutex);
    return d->maxActive;
}

QList<FixtureServer::Request> FixtureServer::requests() const
{
    std::lock_guard lock(d->mutex);
    return d->log;
}

QList<FixtureServer::Request> FixtureServer::requests(const QString &path) const
{
    QList<Request> matching;
    std::lock_guard lock(d->mutex);
    for (const Request &request : d->log) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

qint64 FixtureServer::bytesSent(const QString &path) const
{
    std::lock_guard lock(d->mutex);
    const auto found = d->sentByPath.find(path);
    return found == d->sentByPath.end() ? 0 : found->second;
}

qint64 FixtureServer::totalBytesSent() const
{
    std::lock_guard lock(d->mutex);
    return d->sentTotal;
}

bool FixtureServer::waitForRequests(const QString &path, int count, int timeoutMs) const
{
    std::unique_lock lock(d->mutex);
    return d->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        const auto found = d->counts.find(path);
        return found != d->counts.end() && found->second >= count;
    });
}

// ---- Certificates ------------------------------------------------------------------

std::optional<FixtureServer::TlsFiles> FixtureServer::generateCertificates(const QString &folder,
                                                                           QString *error)
{
    const auto fail = [&](const QString &why) -> std::optional<TlsFiles> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        return fail(QStringLiteral("cannot create %1").arg(folder));

    const QString config = dir.filePath(QStringLiteral("openssl.cnf"));
    {
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("cannot write %1").arg(config));
        file.write("[req]\n"
                   "distinguished_name = dn\n"
                   "prompt = no\n"
                   "[dn]\n"
                   "CN = unused\n"
                   "[ca_ext]\n"
                   "basicConstraints = critical,CA:TRUE\n"
                   "keyUsage = critical,keyCertSign,cRLSign\n"
                   "subjectKeyIdentifier = hash\n"
                   "[server_ext]\n"
                   "basicConstraints = critical,CA:FALSE\n"
                   "keyUsage = critical,digitalSignature,keyEncipherment\n"
                   "extendedKeyUsage = serverAuth\n"
                   "subjectAltName = IP:127.0.0.1,DNS:localhost\n"
                   "subjectKeyIdentifier = hash\n"
                   "authorityKeyIdentifier = keyid\n");
    }

    TlsFiles files;
    files.caCertificate = dir.filePath(QStringLiteral("ca.pem"));
    files.certificate = dir.filePath(QStringLiteral("server.pem"));
    files.privateKey = dir.filePath(QStringLiteral("server-key.pem"));
    const QString caKey = dir.filePath(QStringLiteral("ca-key.pem"));
    const QString request = dir.filePath(QStringLiteral("server.csr"));
    const QString ecKey = QStringLiteral("ec");
    const QString curve = QStringLiteral("ec_paramgen_curve:prime256v1");
    const QString serial = QString::number(QRandomGenerator::global()->bounded(1, 0x7fffffff));

    const QList<QStringList> steps = {
        {"req", "-x509", "-config", config, "-extensions", "ca_ext", "-newkey", ecKey, "-pkeyopt",
         curve, "-nodes", "-keyout", caKey, "-out", files.caCertificate, "-days", "30", "-subj",
         "/CN=Tovrin Test CA"},
        {"req", "-new", "-config", config, "-newkey", ecKey, "-pkeyopt", curve, "-nodes", "-keyout",
         files.privateKey, "-out", request, "-subj", "/CN=127.0.0.1"},
        {"x509", "-req", "-in", request, "-CA", files.caCertificate, "-CAkey", caKey, "-set_serial",
         serial, "-days", "30", "-extfile", config, "-extensions", "server_ext", "-out",
         files.certificate},
    };
    for (const QStringList &arguments : steps) {
        QProcess openssl;
        openssl.setWorkingDirectory(folder);
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"), arguments);
        if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit
            || openssl.exitCode() != 0) {
            return fail(QStringLiteral("openssl %1 failed: %2")
                            .arg(arguments.first(), QString::fromLocal8Bit(openssl.readAll())));
        }
    }
    return files;
}
