#include "support/fixture_server.h"

#include <QDir>
#include <QFile>
#include <QProcess>

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

// The slice [first, last] of a body of `size` bytes that a Range header asks for: the whole body
// for no header or one this server does not take (HTTP allows ignoring it), nothing (first > last)
// when the range starts past the end.
struct Slice {
    qint64 first = 0;
    qint64 last = -1;
    bool ranged = false;
};

Slice chooseRange(const QByteArray &header, qint64 size)
{
    const Slice whole{0, size - 1, false};
    const QByteArray value = header.trimmed().toLower();
    const qsizetype dash = value.indexOf('-');
    if (!value.startsWith("bytes=") || dash < 0)
        return whole;
    const QByteArray a = value.mid(6, dash - 6).trimmed();
    const QByteArray b = value.mid(dash + 1).trimmed();
    if (!allDigits(a) || (!b.isEmpty() && !allDigits(b)))
        return whole;
    const qint64 first = a.toLongLong();
    const qint64 last = b.isEmpty() ? size - 1 : std::min(b.toLongLong(), size - 1);
    if (!b.isEmpty() && b.toLongLong() < first)
        return whole;
    return first >= size ? Slice{0, -1, true} : Slice{first, last, true};
}

quint16 portOf(const sockaddr_storage &address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return 0;
}

// Calls visit(fd, peerPort) for every connected socket of this process whose local port is
// `serverPort` (the server's side of its connections), until visit returns false.
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
        sockaddr_storage peer{};
        socklen_t length = sizeof local;
        if (getsockname(int(fd), reinterpret_cast<sockaddr *>(&local), &length) != 0
            || portOf(local) != serverPort)
            continue;
        length = sizeof peer;
        if (getpeername(int(fd), reinterpret_cast<sockaddr *>(&peer), &length) != 0)
            continue;
        if (!visit(int(fd), portOf(peer)))
            break;
    }
    closedir(dir);
}

bool peerHasLeft(int fd)
{
    if (fd < 0)
        return false;
    pollfd p{fd, POLLRDHUP, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// httplib listens with a backlog of 5: a burst of connections overflows it and the client
// retries only after a second. Its socket is protected; reach it through a member pointer taken
// in a derived class.
struct ListeningSocket : httplib::Server {
    static int of(const httplib::Server &server)
    {
        return (server.*(&ListeningSocket::svr_sock_)).load();
    }
};

// Closes a file descriptor when the last owner lets go.
struct FileHandle {
    explicit FileHandle(int fd) : fd(fd) {}
    ~FileHandle() { ::close(fd); }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    int fd;
};

} // namespace

QByteArray FixtureServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QString FixtureServer::Request::queryValue(const QString &key) const
{
    for (const auto &[k, v] : query) {
        if (k == key)
            return v;
    }
    return {};
}

struct FixtureServer::Impl {
    // Bytes, a file (filePath set) or an API (handler set).
    struct Route {
        QByteArray bytes;
        QString filePath;
        QByteArray contentType;
        Handler handler;
    };

    // Writes one answer's body in chunks, applying its fault. Lives inside the httplib content
    // provider, so it dies with the response.
    struct BodyWriter {
        Impl *impl = nullptr;
        QString path;
        QByteArray bytes;                 // memory, or...
        std::shared_ptr<FileHandle> file; // ...a file read in chunks
        qint64 offset = 0;                // first byte of the source to send
        qint64 length = 0;                // bytes to send
        Fault fault;
        qint64 bytesPerSecond = 0;
        int clientPort = -1;
        bool closeWhenDone = false;
        std::shared_ptr<void> onTheBooks; // takes the answer off the active count when released

        qint64 sent = 0;
        bool stallDone = false;
        Clock::time_point rateStart = Clock::now();
        qint64 rateBase = 0;
        std::vector<char> buffer;

        bool writeNext(httplib::DataSink &sink)
        {
            if (sent >= length)
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

            qint64 n = std::min(kChunkBytes, length - sent);
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
            if (sent + n >= length && !closeWhenDone)
                onTheBooks.reset();

            const char *data = nullptr;
            if (file) {
                buffer.resize(size_t(n));
                for (qint64 got = 0; got < n;) {
                    const ssize_t r = ::pread(file->fd, buffer.data() + got, size_t(n - got),
                                              off_t(offset + sent + got));
                    if (r <= 0)
                        return false; // the file shrank or failed: cut the answer short
                    got += r;
                }
                data = buffer.data();
            } else {
                data = bytes.constData() + offset + sent;
            }
            // Counted before the write so that a client never holds more than bytesSent()
            // says; taken back if the write fails.
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
            int fd = -1;
            forEachServerConnection(impl->port, [&](int socket, quint16 peerPort) {
                if (peerPort == clientPort)
                    fd = socket;
                return fd < 0;
            });
            std::unique_lock lock(impl->mutex);
            while (!impl->stopping && !peerHasLeft(fd))
                impl->changed.wait_for(lock, std::chrono::milliseconds(50));
            return false;
        }
    };

    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    std::atomic<bool> listenerDone{false};
    std::mutex stopMutex;
    int port = 0;
    bool tls = false;

    mutable std::mutex mutex;
    mutable std::condition_variable changed; // a request arrived, or stop
    bool stopping = false;
    std::map<QString, std::shared_ptr<const Route>> routes;
    std::map<QString, std::deque<Fault>> scripts;
    std::map<QString, qint64> sentByPath;
    QList<Request> log;
    qint64 defaultBytesPerSecond = 0;
    int active = 0;
    int maxActive = 0;

    template <typename Read> auto locked(Read read) const
    {
        std::lock_guard lock(mutex);
        return read();
    }

    int countOf(const QString &path) const // with the mutex held
    {
        return int(std::count_if(log.begin(), log.end(),
                                 [&](const Request &r) { return r.path == path; }));
    }

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
    }

    void addRoute(const QString &path, Route route)
    {
        std::lock_guard lock(mutex);
        routes[path] = std::make_shared<const Route>(std::move(route));
    }

    void start(std::unique_ptr<httplib::Server> s)
    {
        server = std::move(s);
        if (!server->is_valid())
            return;
        server->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
        server->set_keep_alive_max_count(1000);
        server->set_read_timeout(kSocketTimeoutSeconds);
        server->set_write_timeout(kSocketTimeoutSeconds);
        server->set_tcp_nodelay(true);
        server->Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
            answer(req, res);
        });

        port = server->bind_to_any_port("127.0.0.1");
        if (port <= 0 || ::listen(ListeningSocket::of(*server), SOMAXCONN) != 0)
            return;
        listener = std::thread([this] {
            server->listen_after_bind();
            listenerDone = true;
        });
        // httplib's stop() does nothing until the listener has started running.
        while (!server->is_running() && !listenerDone)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    void stop()
    {
        const std::lock_guard once(stopMutex);
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        if (!listener.joinable())
            return;
        server->stop();
        // The listener returns once every connection thread has finished. Idle keep-alive
        // connections and clients that stopped reading would hold them for seconds, so cut them.
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

    static Request record(const httplib::Request &req)
    {
        Request r;
        const QByteArray target = QByteArray::fromStdString(req.target);
        const qsizetype question = target.indexOf('?');
        r.path = decodeComponent(target.left(question < 0 ? target.size() : question), false);
        const QList<QByteArray> items =
            question < 0 ? QList<QByteArray>() : target.mid(question + 1).split('&');
        for (const QByteArray &item : items) {
            const qsizetype eq = item.indexOf('=');
            if (!item.isEmpty())
                r.query.append({decodeComponent(eq < 0 ? item : item.left(eq), true),
                                eq < 0 ? QString() : decodeComponent(item.mid(eq + 1), true)});
        }
        for (const auto &[key, value] : req.headers)
            r.headers.append({QByteArray::fromStdString(key), QByteArray::fromStdString(value)});
        return r;
    }

    // Fills the writer's source and the answer's status and headers for served content.
    static void serveContent(const Route &route, const Fault &fault, const httplib::Request &req,
                             BodyWriter &body, int &status, HeaderList &headers)
    {
        qint64 size = route.bytes.size();
        body.bytes = route.bytes;
        if (!route.filePath.isEmpty()) {
            const int fd =
                ::open(QFile::encodeName(route.filePath).constData(), O_RDONLY | O_CLOEXEC);
            body.file = fd < 0 ? nullptr : std::make_shared<FileHandle>(fd);
            struct stat info {};
            if (!body.file || fstat(fd, &info) != 0) {
                status = 404;
                body.file.reset();
                body.bytes = "file not found\n";
                body.length = body.bytes.size();
                return;
            }
            size = info.st_size;
        }
        body.length = size;
        if (fault.ignoreRange)
            return;
        headers.append({QByteArray("Accept-Ranges"), "bytes"});
        const Slice slice =
            chooseRange(QByteArray::fromStdString(req.get_header_value("Range")), size);
        if (!slice.ranged)
            return;
        status = slice.first > slice.last ? 416 : 206;
        const QByteArray range =
            status == 416 ? QByteArray("*")
                          : QByteArray::number(slice.first) + '-' + QByteArray::number(slice.last);
        headers.append(
            {QByteArray("Content-Range"), "bytes " + range + '/' + QByteArray::number(size)});
        body.offset = slice.first;
        body.length = slice.last - slice.first + 1;
    }

    void answer(const httplib::Request &req, httplib::Response &res)
    {
        // httplib would apply the Range header again to whatever we answer (and gets it wrong
        // for content providers): ranges are ours alone.
        const_cast<httplib::Request &>(req).ranges.clear();

        const Request request = record(req);
        const QString path = request.path;
        Fault fault;
        std::shared_ptr<const Route> route;
        qint64 serverRate = 0;
        {
            std::lock_guard lock(mutex);
            log.append(request);
            maxActive = std::max(maxActive, ++active);
            auto script = scripts.find(path);
            if (script != scripts.end() && !script->second.empty()) {
                fault = script->second.front();
                script->second.pop_front();
            }
            if (auto found = routes.find(path); found != routes.end())
                route = found->second;
            serverRate = defaultBytesPerSecond;
        }
        changed.notify_all();
        auto writer = std::make_shared<BodyWriter>();
        writer->onTheBooks = std::shared_ptr<void>(nullptr, [this](void *) {
            std::lock_guard lock(mutex);
            --active;
        });
        // Keeps the request active until httplib has finished with the response.
        res.content_provider_resource_releaser_ = [writer](bool) {};

        if (fault.delayBeforeHeadersMs > 0
            && !sleepUntil(Clock::now() + std::chrono::milliseconds(fault.delayBeforeHeadersMs))) {
            res.status = 503;
            res.set_header("Connection", "close");
            return;
        }

        int status = 200;
        QByteArray contentType = "text/plain; charset=utf-8";
        HeaderList headers;
        bool isContent = false;
        if (fault.status != 0) {
            status = fault.status;
            writer->bytes = fault.body;
        } else if (!route) {
            status = 404;
            writer->bytes = "not found\n";
        } else if (route->handler) {
            const Reply reply = route->handler(request);
            status = reply.status;
            contentType = "application/json";
            headers = reply.headers;
            writer->bytes = reply.body;
        } else {
            isContent = true;
            contentType = route->contentType;
            serveContent(*route, fault, req, *writer, status, headers);
        }
        if (!isContent)
            writer->length = writer->bytes.size();
        if (!fault.retryAfter.isEmpty())
            headers.append({QByteArray("Retry-After"), fault.retryAfter});

        res.status = status;
        for (const auto &[key, value] : headers)
            res.set_header(key.toStdString(), value.toStdString());

        writer->impl = this;
        writer->path = path;
        writer->fault = fault;
        writer->bytesPerSecond = isContent ? serverRate : 0;
        writer->clientPort = req.remote_port;
        const auto provide = [writer](size_t, httplib::DataSink &sink) {
            return writer->writeNext(sink);
        };
        if (fault.omitContentLength) {
            // Close-delimited: httplib keeps such connections open after the body, so the
            // writer closes it by failing once everything is sent.
            writer->closeWhenDone = true;
            res.set_header("Connection", "close");
            res.set_content_provider(contentType.toStdString(), provide);
        } else if (writer->length > 0) {
            res.set_content_provider(size_t(writer->length), contentType.toStdString(),
                                     [provide](size_t offset, size_t, httplib::DataSink &sink) {
                                         return provide(offset, sink);
                                     });
        } else {
            // A zero-length provider would be taken for a length-less one.
            res.set_content(std::string(), contentType.toStdString());
        }
    }
};

FixtureServer::FixtureServer() : d(std::make_unique<Impl>())
{
    d->start(std::make_unique<httplib::Server>());
}

FixtureServer::FixtureServer(const TlsFiles &tls) : d(std::make_unique<Impl>())
{
    d->tls = true;
    d->start(std::make_unique<httplib::SSLServer>(QFile::encodeName(tls.certificate).constData(),
                                                  QFile::encodeName(tls.privateKey).constData()));
}

FixtureServer::~FixtureServer()
{
    stop();
}

void FixtureServer::stop()
{
    d->stop();
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
    d->addRoute(path, {body, {}, contentType, {}});
}

void FixtureServer::serveFile(const QString &path, const QString &filePath,
                              const QByteArray &contentType)
{
    d->addRoute(path, {{}, filePath, contentType, {}});
}

void FixtureServer::handle(const QString &path, Handler handler)
{
    d->addRoute(path, {{}, {}, {}, std::move(handler)});
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
    return d->locked([&] { return d->countOf(path); });
}

int FixtureServer::totalRequests() const
{
    return d->locked([&] { return int(d->log.size()); });
}

int FixtureServer::activeRequests() const
{
    return d->locked([&] { return d->active; });
}

int FixtureServer::maxConcurrentRequests() const
{
    return d->locked([&] { return d->maxActive; });
}

QList<FixtureServer::Request> FixtureServer::requests() const
{
    return d->locked([&] { return d->log; });
}

QList<FixtureServer::Request> FixtureServer::requests(const QString &path) const
{
    QList<Request> matching = requests();
    matching.removeIf([&](const Request &request) { return request.path != path; });
    return matching;
}

qint64 FixtureServer::bytesSent(const QString &path) const
{
    return d->locked([&] { return d->sentByPath.contains(path) ? d->sentByPath.at(path) : 0; });
}

bool FixtureServer::waitForRequests(const QString &path, int count, int timeoutMs) const
{
    std::unique_lock lock(d->mutex);
    return d->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return d->countOf(path) >= count; });
}

std::optional<FixtureServer::TlsFiles> FixtureServer::generateCertificates(const QString &folder)
{
    // A self-signed leaf is its own trust anchor: no separate authority is needed.
    const TlsFiles files{QDir(folder).filePath(QStringLiteral("server.pem")),
                         QDir(folder).filePath(QStringLiteral("server-key.pem"))};
    QProcess openssl;
    if (QDir().mkpath(folder)) {
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-keyout", files.privateKey, "-out", files.certificate, "-days",
                       "30", "-subj", "/CN=127.0.0.1", "-addext",
                       "subjectAltName=IP:127.0.0.1,DNS:localhost", "-addext",
                       "basicConstraints=critical,CA:FALSE"});
    }
    if (openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit
        && openssl.exitCode() == 0)
        return files;
    return std::nullopt;
}
