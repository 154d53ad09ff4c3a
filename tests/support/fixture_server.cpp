#include "support/fixture_server.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUrlQuery>

#include <httplib.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr qint64 kChunkBytes = 64 * 1024;

int portOf(const sockaddr_storage &address)
{
    // sin_port and sin6_port sit at the same offset.
    return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
}

// Calls visit(fd, peerPort) for every connected socket of this process whose local port is
// `serverPort` (the server's side of its connections), until visit returns false.
template <typename Visit> void forEachServerConnection(int serverPort, Visit visit)
{
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : fds) {
        const int fd = name.toInt();
        sockaddr_storage local{}, peer{};
        socklen_t localSize = sizeof local, peerSize = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) == 0
            && portOf(local) == serverPort
            && getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) == 0
            && !visit(fd, portOf(peer)))
            return;
    }
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

} // namespace

bool FixtureServer::waitForRequests(const QString &path, int count, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, milliseconds(timeoutMs), [&] {
        return std::count_if(m_log.begin(), m_log.end(),
                             [&](const Request &r) { return r.path == path; })
               >= count;
    });
}

// Writes one answer's body in chunks, applying its fault. Lives inside the httplib content
// provider, so it dies with the response.
struct FixtureServer::BodyWriter {
    FixtureServer *server = nullptr;
    Fault fault;
    qint64 bytesPerSecond = 0;
    int clientPort = -1;
    QByteArray bytes;              // to send: the body, or the range of it asked for
    bool closeWhenDone = false;    // a close-delimited body
    std::shared_ptr<void> onBooks; // takes the answer off the active count when released

    qint64 sent = 0;
    bool stalled = false;
    Clock::time_point rateStart = Clock::now();
    qint64 rateBase = 0;

    bool writeNext(httplib::DataSink &sink)
    {
        const qint64 length = bytes.size();
        if (sent >= length)
            return !closeWhenDone; // false ends a close-delimited body by closing
        if (fault.dropAfterBytes >= 0 && sent >= fault.dropAfterBytes)
            return false;
        if (fault.stallAfterBytes >= 0 && !stalled && sent >= fault.stallAfterBytes) {
            stalled = true;
            if (!stall())
                return false;
            rateStart = Clock::now();
            rateBase = sent;
        }
        qint64 n =
            std::min(length - sent, bytesPerSecond > 0
                                        ? std::clamp<qint64>(bytesPerSecond / 20, 1, kChunkBytes)
                                        : kChunkBytes);
        for (const qint64 mark : {fault.dropAfterBytes, stalled ? -1 : fault.stallAfterBytes})
            n = mark > sent ? std::min(n, mark - sent) : n;
        if (bytesPerSecond > 0) {
            const std::chrono::duration<double> due(double(sent - rateBase + n)
                                                    / double(bytesPerSecond));
            if (!server->sleepUntil(rateStart + std::chrono::duration_cast<Clock::duration>(due)))
                return false;
        }
        // The answer stops counting as active before its last bytes go out: a client that has
        // the whole body may start its next request at once, and must not find this one still
        // on the books.
        if (sent + n >= length && !closeWhenDone)
            onBooks.reset();
        if (!sink.write(bytes.constData() + sent, size_t(n)))
            return false;
        sent += n;
        return true;
    }

    // Waits stallMs, or (-1) until stopped or the client leaves; false to cut the answer.
    bool stall()
    {
        if (fault.stallMs >= 0)
            return server->sleepUntil(Clock::now() + milliseconds(fault.stallMs));
        int fd = -1;
        forEachServerConnection(server->m_port, [&](int socket, int peerPort) {
            fd = peerPort == clientPort ? socket : -1;
            return fd < 0;
        });
        const auto peerLeft = [fd] {
            pollfd p{fd, POLLRDHUP, 0};
            return fd >= 0 && poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
        };
        std::unique_lock lock(server->m_mutex);
        while (!server->m_stopping && !peerLeft())
            server->m_changed.wait_for(lock, milliseconds(50));
        return false;
    }
};

FixtureServer::FixtureServer()
{
    start(std::make_unique<httplib::Server>());
}

FixtureServer::FixtureServer(const TlsFiles &tls) : m_tls(true)
{
    start(std::make_unique<httplib::SSLServer>(QFile::encodeName(tls.certificate).constData(),
                                               QFile::encodeName(tls.privateKey).constData()));
}

bool FixtureServer::sleepUntil(Clock::time_point due)
{
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_until(lock, due, [this] { return m_stopping; });
}

void FixtureServer::start(std::unique_ptr<httplib::Server> server)
{
    m_server = std::move(server);
    if (!m_server->is_valid())
        return;
    m_server->new_task_queue = [] { return new httplib::ThreadPool(64); };
    m_server->set_keep_alive_max_count(1000);
    m_server->set_read_timeout(60);
    m_server->set_write_timeout(60);
    m_server->set_tcp_nodelay(true);
    m_server->Get(
        ".*", [this](const httplib::Request &req, httplib::Response &res) { answer(req, res); });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0 || ::listen(ListeningSocket::of(*m_server), SOMAXCONN) != 0)
        return;
    m_listener = std::thread([this] {
        m_server->listen_after_bind();
        m_listenerDone = true;
    });
    // httplib's stop() does nothing until the listener has started running.
    while (!m_server->is_running() && !m_listenerDone)
        std::this_thread::sleep_for(milliseconds(1));
}

FixtureServer::~FixtureServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (!m_listener.joinable())
        return;
    m_server->stop();
    // The listener returns once every connection thread has finished. Idle keep-alive
    // connections and clients that stopped reading would hold them for seconds, so cut them.
    while (!m_listenerDone) {
        forEachServerConnection(m_port,
                                [](int fd, int) { return ::shutdown(fd, SHUT_RDWR), true; });
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, milliseconds(5));
    }
    m_listener.join();
}

void FixtureServer::answer(const httplib::Request &req, httplib::Response &res)
{
    // httplib parsed the Range header (and answered 416 to one it rejects), but would apply it
    // again to whatever we answer, wrongly for content providers: ranges are ours alone.
    const httplib::Ranges ranges = std::exchange(const_cast<httplib::Request &>(req).ranges, {});
    Request request{QString::fromStdString(req.path)};
    if (const size_t question = req.target.find('?'); question != std::string::npos) {
        // In a query '+' stands for a space (a plus sign itself comes as %2B), so a client that
        // leaves '+' unencoded is caught.
        const QString raw = QString::fromStdString(req.target.substr(question + 1));
        request.query = QUrlQuery(QString(raw).replace('+', "%20"));
    }
    for (const auto &[key, value] : req.headers)
        request.headers.insert(QByteArray::fromStdString(key).toLower(),
                               QByteArray::fromStdString(value));

    auto body = std::make_shared<BodyWriter>();
    std::optional<Route> route;
    {
        std::lock_guard lock(m_mutex);
        m_log.append(request);
        m_maxActive = std::max(m_maxActive, ++m_active);
        if (!m_scripts.value(request.path).isEmpty())
            body->fault = m_scripts[request.path].takeFirst();
        if (m_routes.contains(request.path))
            route = m_routes.value(request.path);
    }
    m_changed.notify_all();
    const Fault &fault = body->fault;
    body->onBooks = std::shared_ptr<void>(nullptr, [this](void *) {
        std::lock_guard lock(m_mutex);
        --m_active;
    });
    // Keeps the request active until httplib has finished with the response.
    res.content_provider_resource_releaser_ = [body](bool) {};

    if (!sleepUntil(Clock::now() + milliseconds(fault.delayBeforeHeadersMs))) {
        res.status = 503; // stopping
        return;
    }
    if (fault.status == 0 && route && !route->filePath.isEmpty()) {
        QFile file(route->filePath);
        if (file.open(QIODevice::ReadOnly))
            route->bytes = file.readAll();
        else
            route.reset();
    }

    const bool content = fault.status == 0 && route && !route->handler;
    Reply reply{404, "not found\n", {}};
    if (fault.status != 0)
        reply = {fault.status, fault.body, {}};
    else if (route)
        reply = route->handler ? route->handler(request) : Reply{200, route->bytes, {}};
    const QByteArray contentType = content ? route->contentType : "application/json";
    res.status = reply.status;
    HeaderList &headers = reply.headers;
    const qint64 size = reply.body.size();
    qint64 first = 0, last = size - 1;
    // A single "bytes=A-" or "bytes=A-B" is honoured; HTTP allows ignoring any other.
    if (content && !fault.ignoreRange) {
        headers.append({QByteArray("Accept-Ranges"), "bytes"});
        if (ranges.size() == 1 && ranges.front().first >= 0) {
            first = ranges.front().first;
            last = ranges.front().second < 0 ? size - 1
                                             : std::min<qint64>(ranges.front().second, size - 1);
            res.status = first < size ? 206 : 416; // 416 sends nothing: first > last
            const QByteArray range =
                first < size ? QByteArray::number(first) + '-' + QByteArray::number(last)
                             : QByteArray("*");
            headers.append(
                {QByteArray("Content-Range"), "bytes " + range + '/' + QByteArray::number(size)});
        }
    }
    body->bytes = reply.body.mid(first, std::max<qint64>(0, last - first + 1));
    body->bytesPerSecond = content ? m_bytesPerSecond.load() : 0;
    if (!fault.retryAfter.isEmpty())
        headers.append({QByteArray("Retry-After"), fault.retryAfter});
    if (!fault.location.isEmpty())
        headers.append({QByteArray("Location"), fault.location});
    for (const auto &[key, value] : headers)
        res.set_header(key.toStdString(), value.toStdString());

    body->server = this;
    body->clientPort = req.remote_port;
    const std::string type = contentType.toStdString();
    if (fault.omitContentLength) {
        // Close-delimited: httplib keeps such connections open after the body, so the writer
        // closes it by failing once everything is sent.
        body->closeWhenDone = true;
        res.set_header("Connection", "close");
        res.set_content_provider(
            type, [body](size_t, httplib::DataSink &sink) { return body->writeNext(sink); });
    } else if (!body->bytes.isEmpty()) {
        res.set_content_provider(
            size_t(body->bytes.size()), type,
            [body](size_t, size_t, httplib::DataSink &sink) { return body->writeNext(sink); });
    } else {
        // A zero-length provider would be taken for a length-less one.
        res.set_content(std::string(), type);
    }
}

std::optional<FixtureServer::TlsFiles> FixtureServer::generateCertificates(const QString &folder)
{
    // A self-signed leaf is its own trust anchor: no separate authority is needed.
    const TlsFiles files{QDir(folder).filePath(QStringLiteral("server.pem")),
                         QDir(folder).filePath(QStringLiteral("server-key.pem"))};
    if (QDir().mkpath(folder)
        && QProcess::execute(QStringLiteral("openssl"),
                             {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                              "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", files.privateKey,
                              "-out", files.certificate, "-days", "30", "-subj", "/CN=127.0.0.1",
                              "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost", "-addext",
                              "basicConstraints=critical,CA:FALSE"})
               == 0)
        return files;
    return std::nullopt;
}
