#include "support/fixture_server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <curl/curl.h>
#include <sys/socket.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using Fault = FixtureServer::Fault;

namespace {

// ---- a small libcurl client ------------------------------------------------------

struct FetchOptions {
    QList<QByteArray> headers; // raw "Name: value" lines
    QString caFile;
    bool head = false;
    QByteArray postBody;
    bool post = false;
    long timeoutMs = 20000;
};

struct Fetched {
    CURLcode code = CURLE_OK;
    long status = 0;
    QByteArray body;
    QList<QByteArray> headerLines;
    qint64 elapsedMs = 0;

    bool hasHeader(const QByteArray &name) const { return value(name).has_value(); }
    QByteArray header(const QByteArray &name) const { return value(name).value_or(QByteArray()); }

private:
    std::optional<QByteArray> value(const QByteArray &name) const
    {
        std::optional<QByteArray> found;
        for (const QByteArray &line : headerLines) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
                found = line.mid(colon + 1).trimmed();
        }
        return found;
    }
};

size_t appendBody(char *data, size_t size, size_t count, void *user)
{
    static_cast<QByteArray *>(user)->append(data, qsizetype(size * count));
    return size * count;
}

size_t appendHeader(char *data, size_t size, size_t count, void *user)
{
    static_cast<QList<QByteArray> *>(user)->append(QByteArray(data, qsizetype(size * count)));
    return size * count;
}

using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderSlist = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// Performs one request on `curl` (which may be reused, keeping its connection).
Fetched perform(CURL *curl, const QString &url, const FetchOptions &options = {})
{
    Fetched result;
    const QByteArray rawUrl = url.toUtf8();
    HeaderSlist headers(nullptr, curl_slist_free_all);
    for (const QByteArray &line : options.headers)
        headers.reset(curl_slist_append(headers.release(), line.constData()));
    const QByteArray caFile = options.caFile.toLocal8Bit();

    curl_easy_setopt(curl, CURLOPT_URL, rawUrl.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options.timeoutMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, appendHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result.headerLines);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_NOBODY, options.head ? 1L : 0L);
    if (options.post) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, options.postBody.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(options.postBody.size()));
    }
    if (!options.caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());

    QElapsedTimer timer;
    timer.start();
    result.code = curl_easy_perform(curl);
    result.elapsedMs = timer.elapsed();
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    return result;
}

Fetched fetch(const QString &url, const FetchOptions &options = {})
{
    EasyHandle curl(curl_easy_init(), curl_easy_cleanup);
    return perform(curl.get(), url, options);
}

FetchOptions withRange(const QByteArray &range)
{
    FetchOptions options;
    options.headers = {"Range: " + range};
    return options;
}

bool cutShort(CURLcode code)
{
    return code == CURLE_PARTIAL_FILE || code == CURLE_RECV_ERROR;
}

// Runs at scope exit: lets a test that fails early stop its server before it
// waits for client threads stalled on it.
struct AtExit {
    std::function<void()> run;
    ~AtExit() { run(); }
};

QByteArray patternBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

} // namespace

class TestFixtureServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK); }
    void cleanupTestCase() { curl_global_cleanup(); }

    // ---- content and ranges --------------------------------------------------------

    void servesContentWithRanges_data()
    {
        QTest::addColumn<bool>("fromFile");
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");

        // 200000 bytes: several 64 KiB chunks.
        const struct {
            const char *name;
            QByteArray range;
            int status;
            qint64 first, last;
        } rows[] = {
            {"no range", "", 200, 0, 199999},
            {"a-b", "bytes=10-19", 206, 10, 19},
            {"a- across chunks", "bytes=70000-", 206, 70000, 199999},
            {"last byte", "bytes=199999-199999", 206, 199999, 199999},
            {"end past the body is clamped", "bytes=199990-500000", 206, 199990, 199999},
            {"suffix", "bytes=-100", 206, 199900, 199999},
            {"suffix longer than the body", "bytes=-300000", 206, 0, 199999},
            {"start at the end", "bytes=200000-", 416, 0, -1},
            {"start past the end", "bytes=300000-400000", 416, 0, -1},
            {"several ranges get the whole body", "bytes=0-1,5-6", 200, 0, 199999},
        };
        for (bool fromFile : {false, true}) {
            for (const auto &row : rows) {
                QTest::addRow("%s: %s", fromFile ? "file" : "bytes", row.name)
                    << fromFile << row.range << row.status << row.first << row.last;
            }
        }
    }

    void servesContentWithRanges()
    {
        QFETCH(bool, fromFile);
        QFETCH(QByteArray, range);
        QFETCH(int, status);
        QFETCH(qint64, first);
        QFETCH(qint64, last);

        const QByteArray body = patternBytes(200000);
        FixtureServer server;
        QVERIFY(server.isListening());
        QTemporaryDir dir;
        if (fromFile) {
            QFile file(dir.filePath("content.bin"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(body), body.size());
            file.close();
            server.serveFile("/content", file.fileName(), "video/mp4");
        } else {
            server.serveBytes("/content", body, "video/mp4");
        }

        const Fetched got =
            fetch(server.url("/content"), range.isEmpty() ? FetchOptions{} : withRange(range));
        QCOMPARE(got.code, CURLE_OK);
        QCOMPARE(got.status, long(status));
        QCOMPARE(got.header("Accept-Ranges"), QByteArray("bytes"));

        const QByteArray expected = body.mid(first, last - first + 1);
        QCOMPARE(got.body, expected);
        QCOMPARE(got.header("Content-Length"), QByteArray::number(expected.size()));
        if (status == 206) {
            QCOMPARE(got.header("Content-Range"), "bytes " + QByteArray::number(first) + '-'
                                                      + QByteArray::number(last) + "/200000");
        } else if (status == 416) {
            QCOMPARE(got.header("Content-Range"), QByteArray("bytes */200000"));
        } else {
            QVERIFY(!got.hasHeader("Content-Range"));
            QCOMPARE(got.header("Content-Type"), QByteArray("video/mp4"));
        }
        QCOMPARE(server.bytesSent("/content"), qint64(expected.size()));
        QCOMPARE(server.requests().constFirst().header("range"), range);
    }

    void headAndMissingFiles()
    {
        FixtureServer server;
        QTemporaryDir dir;
        QFile file(dir.filePath("small.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("0123456789");
        file.close();
        server.serveFile("/small", file.fileName());
        server.serveFile("/gone", dir.filePath("missing.bin"));

        FetchOptions head;
        head.head = true;
        const Fetched size = fetch(server.url("/small"), head);
        QCOMPARE(size.status, 200L);
        QCOMPARE(size.header("Content-Length"), QByteArray("10"));
        QVERIFY(size.body.isEmpty());
        QCOMPARE(server.requests().constFirst().method, QByteArray("HEAD"));

        // The file is read at request time, not when it was registered.
        QVERIFY(file.open(QIODevice::Append));
        file.write("abc");
        file.close();
        QCOMPARE(fetch(server.url("/small")).body, QByteArray("0123456789abc"));

        QCOMPARE(fetch(server.url("/gone")).status, 404L);
        QCOMPARE(fetch(server.url("/never-registered")).status, 404L);
        QCOMPARE(server.requestCount("/never-registered"), 1);

        // An empty body is a complete answer, and a range of it is unsatisfiable.
        server.serveBytes("/empty", QByteArray());
        const Fetched empty = fetch(server.url("/empty"));
        QCOMPARE(empty.code, CURLE_OK);
        QCOMPARE(empty.status, 200L);
        QCOMPARE(empty.header("Content-Length"), QByteArray("0"));
        QCOMPARE(fetch(server.url("/empty"), withRange("bytes=0-")).status, 416L);
    }

    void streamsFilesBeyondFourGiB()
    {
        const qint64 size = 5LL * 1024 * 1024 * 1024;
        const qint64 fourGiB = 4LL * 1024 * 1024 * 1024;
        QTemporaryDir dir;
        QFile file(dir.filePath("huge.bin"));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(size)); // sparse: takes no room
        QVERIFY(file.seek(fourGiB));
        file.write("FOURGIGA");
        QVERIFY(file.seek(size - 16));
        file.write("0123456789abcdef");
        file.close();

        FixtureServer server;
        server.serveFile("/huge", file.fileName());

        FetchOptions head;
        head.head = true;
        QCOMPARE(fetch(server.url("/huge"), head).header("Content-Length"),
                 QByteArray::number(size));

        const Fetched atFour = fetch(server.url("/huge"), withRange("bytes=4294967296-4294967303"));
        QCOMPARE(atFour.status, 206L);
        QCOMPARE(atFour.body, QByteArray("FOURGIGA"));
        QCOMPARE(atFour.header("Content-Range"),
                 QByteArray("bytes 4294967296-4294967303/5368709120"));

        const Fetched tail = fetch(server.url("/huge"), withRange("bytes=5368709110-"));
        QCOMPARE(tail.status, 206L);
        QCOMPARE(tail.body, QByteArray("6789abcdef"));
        QCOMPARE(tail.header("Content-Length"), QByteArray("10"));
    }

    // ---- handlers --------------------------------------------------------------

    void handlerSeesTheRequestAndShapesTheReply()
    {
        FixtureServer server;
        QList<FixtureServer::Request> seen;
        std::mutex seenMutex;
        server.handle("/api/resources", [&](const FixtureServer::Request &request) {
            std::lock_guard lock(seenMutex);
            seen.append(request);
            return FixtureServer::Reply{
                .status = 201, .body = R"({"ok":true})", .headers = {{"X-Trace", "abc"}}};
        });
        server.handle("/api/some thing", [](const FixtureServer::Request &) {
            return FixtureServer::Reply{.body = "spaced", .contentType = "text/plain"};
        });

        FetchOptions auth;
        auth.headers = {"Authorization: OAuth secret"};
        const Fetched got =
            fetch(server.url("/api/resources?public_key=https%3A%2F%2Fdisk.example%2Fd%2Fx&limit=5"
                             "&q=a+b%2Bc&flag"),
                  auth);
        QCOMPARE(got.status, 201L);
        QCOMPARE(got.body, QByteArray(R"({"ok":true})"));
        QCOMPARE(got.header("X-Trace"), QByteArray("abc"));
        QCOMPARE(got.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(got.header("Content-Length"), QByteArray("11"));

        FetchOptions post;
        post.post = true;
        post.postBody = "name=value";
        QCOMPARE(fetch(server.url("/api/resources"), post).status, 201L);

        QCOMPARE(seen.size(), 2);
        const FixtureServer::Request &get = seen[0];
        QCOMPARE(get.method, QByteArray("GET"));
        QCOMPARE(get.path, QString("/api/resources"));
        const QList<QPair<QString, QString>> query = {{"public_key", "https://disk.example/d/x"},
                                                      {"limit", "5"},
                                                      {"q", "a b+c"},
                                                      {"flag", ""}};
        QCOMPARE(get.query, query);
        QCOMPARE(get.queryValue("limit"), QString("5"));
        QVERIFY(get.hasQueryItem("flag"));
        QVERIFY(!get.hasQueryItem("absent"));
        QCOMPARE(get.header("authorization"), QByteArray("OAuth secret"));
        QVERIFY(!get.hasHeader("REMOTE_ADDR"));
        QCOMPARE(seen[1].method, QByteArray("POST"));
        QCOMPARE(seen[1].body, QByteArray("name=value"));

        // The path is matched after percent-decoding.
        QCOMPARE(fetch(server.url("/api/some%20thing")).body, QByteArray("spaced"));

        // Everything is recorded, in order.
        const QList<FixtureServer::Request> all = server.requests();
        QCOMPARE(all.size(), 3);
        QCOMPARE(server.totalRequests(), 3);
        QCOMPARE(server.requestCount("/api/resources"), 2);
        QCOMPARE(server.requests("/api/some thing").size(), 1);
        QVERIFY(all[0].receivedMs <= all[1].receivedMs && all[1].receivedMs <= all[2].receivedMs);
        QCOMPARE(all[0].target,
                 QByteArray("/api/resources?public_key=https%3A%2F%2Fdisk.example%2Fd%2Fx&limit=5"
                            "&q=a+b%2Bc&flag"));
    }

    void waitsForRequests()
    {
        FixtureServer server;
        server.serveBytes("/later", "x");
        QVERIFY(!server.waitForRequests("/later", 1, 100));
        std::jthread client([&] {
            QThread::msleep(200);
            fetch(server.url("/later"));
        });
        QVERIFY(server.waitForRequests("/later", 1, 10000));
        client.join();
        QVERIFY(!server.waitForRequests("/later", 2, 100));
    }

    // ---- faults ----------------------------------------------------------------

    void scriptAdvancesPerRequestThenServesNormally()
    {
        FixtureServer server;
        const QByteArray body = patternBytes(1000);
        server.serveBytes("/file", body);
        server.script("/file", {Fault{.status = 503, .body = "busy", .retryAfter = 7},
                                Fault{.status = 404}, Fault{}});
        int handlerCalls = 0;
        server.handle("/api", [&](const FixtureServer::Request &) {
            ++handlerCalls;
            return FixtureServer::Reply{.body = "real"};
        });
        server.script("/api", {Fault{.status = 500, .body = "<h1>oops</h1>"}});

        const Fetched first = fetch(server.url("/file"));
        QCOMPARE(first.status, 503L);
        QCOMPARE(first.body, QByteArray("busy"));
        QCOMPARE(first.header("Retry-After"), QByteArray("7"));

        const Fetched second = fetch(server.url("/file"));
        QCOMPARE(second.status, 404L);
        QVERIFY(second.body.isEmpty());
        QVERIFY(!second.hasHeader("Retry-After"));

        for (int i = 0; i < 2; ++i) { // Fault{} and then the exhausted script
            const Fetched normal = fetch(server.url("/file"));
            QCOMPARE(normal.status, 200L);
            QCOMPARE(normal.body, body);
        }
        QCOMPARE(server.requestCount("/file"), 4);

        const Fetched failed = fetch(server.url("/api"));
        QCOMPARE(failed.status, 500L);
        QCOMPARE(failed.body, QByteArray("<h1>oops</h1>"));
        QCOMPARE(handlerCalls, 0);
        QCOMPARE(fetch(server.url("/api")).body, QByteArray("real"));
        QCOMPARE(handlerCalls, 1);

        // The server closes its books on a request just after the client has the last byte,
        // so sequential requests may overlap there by a moment; only the end state is exact.
        QTRY_COMPARE(server.activeRequests(), 0);
    }

    void delaysBeforeHeaders()
    {
        FixtureServer server;
        server.serveBytes("/slow", "payload");
        server.script("/slow", {Fault{.delayBeforeHeadersMs = 300}});
        const Fetched got = fetch(server.url("/slow"));
        QCOMPARE(got.status, 200L);
        QCOMPARE(got.body, QByteArray("payload"));
        QVERIFY2(got.elapsedMs >= 250, QByteArray::number(got.elapsedMs));
    }

    void dropsTheConnectionAfterSomeBytes()
    {
        FixtureServer server;
        const QByteArray body = patternBytes(300000);
        server.serveBytes("/file", body);
        server.script("/file", {Fault{.dropAfterBytes = 100000}, Fault{.dropAfterBytes = 10},
                                Fault{.dropAfterBytes = 0}});

        const Fetched cut = fetch(server.url("/file"));
        QVERIFY2(cutShort(cut.code), curl_easy_strerror(cut.code));
        QCOMPARE(cut.status, 200L);
        QCOMPARE(cut.header("Content-Length"), QByteArray("300000"));
        QCOMPARE(cut.body, body.left(100000));
        QCOMPARE(server.bytesSent("/file"), 100000);

        // The count applies to the slice a range asked for.
        const Fetched slice = fetch(server.url("/file"), withRange("bytes=1000-"));
        QVERIFY(cutShort(slice.code));
        QCOMPARE(slice.status, 206L);
        QCOMPARE(slice.body, body.mid(1000, 10));

        const Fetched none = fetch(server.url("/file"));
        QVERIFY(cutShort(none.code));
        QCOMPARE(none.status, 200L);
        QVERIFY(none.body.isEmpty());

        QCOMPARE(fetch(server.url("/file")).body, body);
    }

    void stallsThenCompletes()
    {
        FixtureServer server;
        const QByteArray body = patternBytes(200000);
        server.serveBytes("/file", body);
        server.script("/file", {Fault{.stallAfterBytes = 1000, .stallMs = 500}});

        Fetched got;
        std::jthread client([&] { got = fetch(server.url("/file")); });
        QTRY_VERIFY_WITH_TIMEOUT(server.bytesSent("/file") >= 1000, 5000);
        QCOMPARE(server.bytesSent("/file"), 1000); // nothing more during the stall
        client.join();

        QCOMPARE(got.code, CURLE_OK);
        QCOMPARE(got.body, body);
        QVERIFY2(got.elapsedMs >= 450, QByteArray::number(got.elapsedMs));
    }

    void limitsThroughput()
    {
        FixtureServer server;
        const QByteArray body = patternBytes(40000);
        server.serveBytes("/file", body);
        server.setBytesPerSecond(200000);
        server.script("/file", {Fault{.bytesPerSecond = 50000}});

        const Fetched overridden = fetch(server.url("/file")); // 0.8 s at 50 kB/s
        QCOMPARE(overridden.body, body);
        QVERIFY2(overridden.elapsedMs >= 650, QByteArray::number(overridden.elapsedMs));

        const Fetched byDefault = fetch(server.url("/file")); // 0.2 s at 200 kB/s
        QCOMPARE(byDefault.body, body);
        QVERIFY2(byDefault.elapsedMs >= 150, QByteArray::number(byDefault.elapsedMs));
    }

    void ignoresRangesWhenTold()
    {
        FixtureServer server;
        const QByteArray body = patternBytes(5000);
        server.serveBytes("/file", body);
        server.script("/file", {Fault{.ignoreRange = true}});

        const Fetched whole = fetch(server.url("/file"), withRange("bytes=10-19"));
        QCOMPARE(whole.status, 200L);
        QCOMPARE(whole.body, body);
        QCOMPARE(whole.header("Content-Length"), QByteArray("5000"));
        QVERIFY(!whole.hasHeader("Content-Range"));
        QVERIFY(!whole.hasHeader("Accept-Ranges"));

        const Fetched slice = fetch(server.url("/file"), withRange("bytes=10-19"));
        QCOMPARE(slice.status, 206L);
        QCOMPARE(slice.body, body.mid(10, 10));
    }

    void omitsContentLength()
    {
        FixtureServer server;
        const QByteArray body = patternBytes(150000);
        server.serveBytes("/file", body);
        server.script("/file", {Fault{.omitContentLength = true},
                                Fault{.dropAfterBytes = 5000, .omitContentLength = true}});

        const Fetched whole = fetch(server.url("/file"));
        QCOMPARE(whole.code, CURLE_OK);
        QCOMPARE(whole.status, 200L);
        QVERIFY(!whole.hasHeader("Content-Length"));
        QVERIFY(!whole.hasHeader("Transfer-Encoding")
                || whole.header("Transfer-Encoding") != "chunked");
        QCOMPARE(whole.body, body);
        // The body ends when the server closes, not after an idle keep-alive wait.
        QVERIFY2(whole.elapsedMs < 3000, QByteArray::number(whole.elapsedMs));

        // Without a length, a cut looks like a complete body to the client.
        const Fetched cut = fetch(server.url("/file"));
        QCOMPARE(cut.code, CURLE_OK);
        QCOMPARE(cut.body, body.left(5000));
    }

    // ---- observation ---------------------------------------------------------------

    void countsConcurrentRequests()
    {
        FixtureServer server;
        const QByteArray body = patternBytes(2000);
        server.serveBytes("/file", body);
        // Each client is held after 10 bytes until the server stops: all of
        // them must be answered at the same time.
        const int clientCount = 32;
        server.script("/file",
                      QList<Fault>(clientCount, Fault{.stallAfterBytes = 10, .stallMs = -1}));

        std::vector<Fetched> results(clientCount);
        {
            std::vector<std::jthread> clients;
            for (int i = 0; i < clientCount; ++i)
                clients.emplace_back([&, i] { results[size_t(i)] = fetch(server.url("/file")); });
            const AtExit stopFirst{[&] { server.stop(); }};
            QTRY_COMPARE_WITH_TIMEOUT(server.activeRequests(), clientCount, 5000);
            QTRY_COMPARE_WITH_TIMEOUT(server.totalBytesSent(), 10 * clientCount, 5000);
            server.stop();
        }
        for (const Fetched &result : results) {
            QVERIFY(cutShort(result.code));
            QCOMPARE(result.body, body.left(10));
        }
        QCOMPARE(server.activeRequests(), 0);
        QCOMPARE(server.maxConcurrentRequests(), clientCount);
        QVERIFY(!server.isListening());
    }

    void sendsNothingWhileTheClientPauses()
    {
        FixtureServer server;
        const QByteArray body = patternBytes(16 * 1024 * 1024);
        server.serveBytes("/big", body);

        struct Receiver {
            QByteArray data;
            qsizetype pauseAt = 1024 * 1024;
            bool pausedOnce = false;
            bool paused = false;
        } receiver;
        const auto write = [](char *data, size_t size, size_t count, void *user) -> size_t {
            auto *r = static_cast<Receiver *>(user);
            if (!r->pausedOnce && r->data.size() >= r->pauseAt) {
                r->pausedOnce = r->paused = true;
                return CURL_WRITEFUNC_PAUSE;
            }
            r->data.append(data, qsizetype(size * count));
            return size * count;
        };
        // A small, fixed receive buffer keeps the bytes in flight few.
        const auto smallBuffer = [](void *, curl_socket_t fd, curlsocktype) -> int {
            const int bytes = 64 * 1024;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
            return CURL_SOCKOPT_OK;
        };

        const QByteArray url = server.url("/big").toUtf8();
        EasyHandle easy(curl_easy_init(), curl_easy_cleanup);
        curl_easy_setopt(easy.get(), CURLOPT_URL, url.constData());
        curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION,
                         static_cast<size_t (*)(char *, size_t, size_t, void *)>(write));
        curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &receiver);
        curl_easy_setopt(easy.get(), CURLOPT_SOCKOPTFUNCTION,
                         static_cast<int (*)(void *, curl_socket_t, curlsocktype)>(smallBuffer));
        std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multi(curl_multi_init(),
                                                                    curl_multi_cleanup);
        curl_multi_add_handle(multi.get(), easy.get());

        int running = 1;
        QElapsedTimer timer;
        timer.start();
        while (running && !receiver.paused && timer.elapsed() < 20000) {
            curl_multi_perform(multi.get(), &running);
            curl_multi_poll(multi.get(), nullptr, 0, 50, nullptr);
        }
        QVERIFY(receiver.paused);

        // The server fills the socket buffers, then can send no more.
        qint64 settled = -1;
        int unchanged = 0;
        while (unchanged < 3 && timer.elapsed() < 20000) {
            QThread::msleep(100);
            const qint64 now = server.bytesSent("/big");
            unchanged = now == settled ? unchanged + 1 : 0;
            settled = now;
        }
        QVERIFY(unchanged >= 3);
        QVERIFY2(settled < body.size(), QByteArray::number(settled));
        QThread::msleep(500);
        QCOMPARE(server.bytesSent("/big"), settled);

        receiver.paused = false;
        curl_easy_pause(easy.get(), CURLPAUSE_CONT);
        while (running && timer.elapsed() < 30000) {
            curl_multi_perform(multi.get(), &running);
            curl_multi_poll(multi.get(), nullptr, 0, 50, nullptr);
        }
        int left = 0;
        CURLMsg *message = curl_multi_info_read(multi.get(), &left);
        QVERIFY(message && message->msg == CURLMSG_DONE);
        QCOMPARE(message->data.result, CURLE_OK);
        curl_multi_remove_handle(multi.get(), easy.get());
        QCOMPARE(receiver.data.size(), body.size());
        QVERIFY(receiver.data == body);
        QCOMPARE(server.bytesSent("/big"), body.size());
    }

    // ---- https -----------------------------------------------------------------

    void servesHttpsWithAGeneratedCa()
    {
        QTemporaryDir dir;
        QString error;
        const auto trusted = FixtureServer::generateCertificates(dir.filePath("trusted"), &error);
        QVERIFY2(trusted, qPrintable(error));
        const auto stranger = FixtureServer::generateCertificates(dir.filePath("other"), &error);
        QVERIFY2(stranger, qPrintable(error));

        FixtureServer server(trusted->certificate, trusted->privateKey);
        QVERIFY2(server.isListening(), qPrintable(server.errorString()));
        QCOMPARE(server.baseUrl(), QString("https://127.0.0.1:%1").arg(server.port()));
        const QByteArray body = patternBytes(100000);
        server.serveBytes("/file", body);

        FetchOptions wrongCa;
        wrongCa.caFile = stranger->caCertificate;
        QCOMPARE(fetch(server.url("/file"), wrongCa).code, CURLE_PEER_FAILED_VERIFICATION);

        FetchOptions rightCa;
        rightCa.caFile = trusted->caCertificate;
        const Fetched whole = fetch(server.url("/file"), rightCa);
        QCOMPARE(whole.code, CURLE_OK);
        QCOMPARE(whole.body, body);

        rightCa.headers = {"Range: bytes=70000-70009"};
        const Fetched slice = fetch(server.url("/file"), rightCa);
        QCOMPARE(slice.status, 206L);
        QCOMPARE(slice.body, body.mid(70000, 10));

        FixtureServer broken(dir.filePath("none.pem"), dir.filePath("none-key.pem"));
        QVERIFY(!broken.isListening());
        QVERIFY(!broken.errorString().isEmpty());
    }

    // ---- stopping ------------------------------------------------------------------

    void stopsPromptlyWithStalledAndIdleConnections()
    {
        auto server = std::make_unique<FixtureServer>();
        server->serveBytes("/forever", patternBytes(10000));
        server->serveBytes("/quick", "quick");
        server->script("/forever", {Fault{.stallAfterBytes = 100, .stallMs = -1}});
        const QString foreverUrl = server->url("/forever");

        // A connection left open for keep-alive...
        EasyHandle idle(curl_easy_init(), curl_easy_cleanup);
        QCOMPARE(perform(idle.get(), server->url("/quick")).body, QByteArray("quick"));
        // ...and one stalled for good.
        Fetched stalled;
        std::jthread client([&] { stalled = fetch(foreverUrl); });
        const AtExit stopFirst{[&] { server.reset(); }};
        QTRY_COMPARE_WITH_TIMEOUT(server->bytesSent("/forever"), 100, 5000);

        QElapsedTimer timer;
        timer.start();
        server.reset();
        QVERIFY2(timer.elapsed() < 3000, QByteArray::number(timer.elapsed()));
        client.join();
        QVERIFY2(cutShort(stalled.code), curl_easy_strerror(stalled.code));
        QCOMPARE(stalled.body.size(), 100);
    }

    void stopsRightAfterStarting()
    {
        // Destroyed at once, before its listener thread may have run at all.
        for (int i = 0; i < 10; ++i) {
            FixtureServer server;
            QVERIFY(server.isListening());
        }
        FixtureServer twice;
        twice.stop();
        QVERIFY(!twice.isListening());
        twice.stop();
    }

    void endlessStallEndsWhenTheClientLeaves()
    {
        FixtureServer server;
        server.serveBytes("/forever", patternBytes(10000));
        server.script("/forever", {Fault{.stallAfterBytes = 100, .stallMs = -1}});
        FetchOptions impatient;
        impatient.timeoutMs = 300;
        const Fetched got = fetch(server.url("/forever"), impatient);
        QCOMPARE(got.code, CURLE_OPERATION_TIMEDOUT);
        QCOMPARE(got.body.size(), 100);
        QTRY_COMPARE_WITH_TIMEOUT(server.activeRequests(), 0, 5000);
    }
};

QTEST_GUILESS_MAIN(TestFixtureServer)
#include "test_fixture_server.moc"
