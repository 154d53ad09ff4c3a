#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QUrlQuery>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// A real HTTP/1.1 server on 127.0.0.1 for network tests.
//
// It listens on an ephemeral port from the moment the constructor returns and answers GET (and
// HEAD) on its own threads, many connections at once, so a test thread may block in a client or
// spin an event loop while it serves. Every member function is thread-safe.
//
// Content is registered per exact path (the query string is ignored when matching): bytes from
// memory, a file read from disk, or a handler standing in for an API. Faults are injected as data,
// per request, with script(). Unknown paths get 404. Every request is recorded.
//
// The destructor is prompt: it wakes every delay, stall and throttle and cuts every open
// connection, idle keep-alive ones included.
class FixtureServer {
public:
    using HeaderList = QList<QPair<QByteArray, QByteArray>>;

    // One request as it arrived.
    struct Request {
        QString path{};                         // percent-decoded, without the query
        QUrlQuery query{};                      // '+' is a space
        QMap<QByteArray, QByteArray> headers{}; // by name in lower case

        // A header's value, the name in any case; empty if absent.
        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
        // First value of a query item, decoded; empty if absent.
        QString queryValue(const QString &key) const
        {
            return query.queryItemValue(key, QUrl::FullyDecoded);
        }
    };

    // What a handler answers, as JSON; the server adds Content-Length.
    struct Reply {
        int status = 200;
        QByteArray body{};
        HeaderList headers{};
    };

    // Called on a server thread, possibly for several requests at once.
    using Handler = std::function<Reply(const Request &)>;

    // What to do to one request. Fault{} answers normally. The body-shaping fields (drop,
    // stall, omitContentLength) apply to whatever body the answer has.
    struct Fault {
        int status = 0;                 // non-zero: answer this status with `body`
        QByteArray body{};              //   instead of the path's content
        QByteArray retryAfter{};        // non-empty: send it as Retry-After
        QByteArray location{};         // non-empty: send it as Location
        int delayBeforeHeadersMs = 0;   // wait this long before answering
        qint64 dropAfterBytes = -1;     // >= 0: send this many body bytes, then close
        qint64 stallAfterBytes = -1;    // >= 0: after this many body bytes...
        int stallMs = 0;                //   ...send nothing for stallMs, then go on;
                                        //   -1: until stopped or the client leaves
        bool ignoreRange = false;       // answer a Range request with 200 + whole body
                                        //   (and no Accept-Ranges)
        bool omitContentLength = false; // no Content-Length: the body ends when the
                                        //   server closes the connection
    };

    // A self-signed certificate for 127.0.0.1 and localhost and its key (PEM files); a client
    // trusts the server by taking `certificate` as its CA bundle.
    struct TlsFiles {
        QString certificate{};
        QString privateKey{};
    };

    // Makes TlsFiles in `folder` with the openssl command line; nothing if that fails.
    static std::optional<TlsFiles> generateCertificates(const QString &folder);

    FixtureServer();                             // plain HTTP
    explicit FixtureServer(const TlsFiles &tls); // HTTPS
    ~FixtureServer();

    FixtureServer(const FixtureServer &) = delete;
    FixtureServer &operator=(const FixtureServer &) = delete;

    quint16 port() const { return quint16(m_port); }
    QString baseUrl() const // "http://127.0.0.1:PORT" or "https://..."
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(m_tls ? "https" : "http").arg(m_port);
    }
    QString url(const QString &path) const { return baseUrl() + path; }

    // Content; a later call for the same path replaces the earlier one. serveBytes/serveFile
    // honour a single byte range "bytes=A-" or "bytes=A-B" (206, or 416 past the end) and send
    // Accept-Ranges: bytes. serveFile opens the file at request time.
    void serveBytes(const QString &path, const QByteArray &body,
                    const QByteArray &contentType = "application/octet-stream")
    {
        put(m_routes, path, Route{body, {}, contentType, {}});
    }
    void serveFile(const QString &path, const QString &filePath,
                   const QByteArray &contentType = "application/octet-stream")
    {
        put(m_routes, path, Route{{}, filePath, contentType, {}});
    }
    void handle(const QString &path, Handler handler)
    {
        put(m_routes, path, Route{{}, {}, {}, std::move(handler)});
    }

    // The next faults.size() requests to path get these faults in order; after that requests
    // are answered normally. Replaces any earlier script for path.
    void script(const QString &path, const QList<Fault> &faults) { put(m_scripts, path, faults); }

    // Rate limit for content from serveBytes/serveFile (0 = unlimited).
    void setBytesPerSecond(qint64 rate) { m_bytesPerSecond = std::max<qint64>(0, rate); }

    // Observation.
    int requestCount(const QString &path) const { return int(requests(path).size()); }
    int activeRequests() const { return read(m_active); } // being answered right now
    int maxConcurrentRequests() const { return read(m_maxActive); }
    QList<Request> requests() const { return read(m_log); } // every request, in arrival order
    QList<Request> requests(const QString &path) const
    {
        QList<Request> matching = requests();
        matching.removeIf([&](const Request &r) { return r.path != path; });
        return matching;
    }
    // True once at least `count` requests for path have arrived; false on timeout.
    bool waitForRequests(const QString &path, int count, int timeoutMs = 5000) const;

private:
    struct Route {
        QByteArray bytes;
        QString filePath;
        QByteArray contentType;
        Handler handler;
    };
    struct BodyWriter; // one answer's body, with its fault and rate

    template <typename T> T read(const T &field) const
    {
        std::lock_guard lock(m_mutex);
        return field;
    }
    template <typename Map, typename T> void put(Map &map, const QString &key, T value)
    {
        std::lock_guard lock(m_mutex);
        map[key] = std::move(value);
    }
    // Waits until `due`; false if the server is stopping.
    bool sleepUntil(std::chrono::steady_clock::time_point due);
    void start(std::unique_ptr<httplib::Server> server);
    void answer(const httplib::Request &req, httplib::Response &res);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_listener;
    std::atomic<bool> m_listenerDone{false};
    int m_port = 0;
    bool m_tls = false;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed; // a request arrived, or stop
    bool m_stopping = false;
    QMap<QString, Route> m_routes;
    QMap<QString, QList<Fault>> m_scripts;
    QList<Request> m_log;
    std::atomic<qint64> m_bytesPerSecond{0};
    int m_active = 0;
    int m_maxActive = 0;
};
