#include "app/platform/curl_http_client.h"
#include "support/fixture_server.h"
#include "support/test_main.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <future>
#include <tuple>

namespace {

HttpRequest requestFor(const QString &url)
{
    HttpRequest request;
    request.url = QUrl(url);
    request.requestTimeoutSeconds = 10;
    request.resourceTimeoutSeconds = 30;
    return request;
}

FixtureServer::Handler redirectTo(const QString &location)
{
    return [location](const FixtureServer::Request &) {
        return FixtureServer::Reply{.status = 302, .headers = {{"Location", location.toUtf8()}}};
    };
}

} // namespace

class TestCurlHttpClient : public QObject {
    Q_OBJECT

private slots:
    // Redirects are followed, at most 10 and only to http or https, and headers go along; a
    // stalled answer ends by cancel or by the time-out.
    void getFollowsRedirectsAndEnds()
    {
        FixtureServer server;
        server.handle("/start", redirectTo("/middle"));
        server.handle("/middle", redirectTo(server.url("/end")));
        server.serveBytes("/end", "final body");
        server.handle("/loop", redirectTo("/loop"));
        server.handle("/ftp", redirectTo("ftp://127.0.0.1/file"));
        server.handle("/file", redirectTo("file:///etc/passwd"));
        server.serveBytes("/stall", QByteArray(1000, 'x'));
        server.script("/stall",
                      QList<FixtureServer::Fault>(2, {.stallAfterBytes = 10, .stallMs = -1}));
        CurlHttpClient client;
        HttpRequest request = requestFor(server.url("/start"));
        request.headers = {{"User-Agent", "Tovrin-Test/1"}};

        const HttpResult result = client.get(request, CancelToken());
        QVERIFY(result.ok());
        QCOMPARE(result.response->status, 200);
        QCOMPARE(result.response->body, QByteArray("final body"));
        QCOMPARE(result.response->finalUrl, QUrl(server.url("/end")));
        // The headers are those of the last answer of the chain, not of a redirect.
        QVERIFY(!result.response->header("Location"));
        QCOMPARE(server.requests("/end").value(0).header("User-Agent"),
                 QByteArray("Tovrin-Test/1"));

        const HttpResult loop = client.get(requestFor(server.url("/loop")), CancelToken());
        QVERIFY(!loop.ok() && !loop.error.message.isEmpty());
        QCOMPARE(server.requestCount("/loop"), 11);
        for (const char *path : {"/ftp", "/file"}) {
            const HttpResult refused = client.get(requestFor(server.url(path)), CancelToken());
            QCOMPARE(refused.error.kind, NetworkErrorKind::BadUrl);
            QVERIFY(!refused.error.isTransient());
        }

        CancelToken cancel;
        auto pending = std::async(std::launch::async, [&] {
            return client.get(requestFor(server.url("/stall")), cancel);
        });
        QVERIFY(server.waitForRequests("/stall", 1));
        cancel.cancel();
        QVERIFY(pending.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
        QCOMPARE(pending.get().error.kind, NetworkErrorKind::Cancelled);
        request = requestFor(server.url("/stall"));
        request.resourceTimeoutSeconds = 0.3;
        const HttpResult silent = client.get(request, CancelToken());
        QCOMPARE(silent.error.kind, NetworkErrorKind::TimedOut);
        QVERIFY(silent.error.isTransient());
    }

    // Over HTTPS trusted through the injected authority only: into the file with rising
    // progress; an error page never reaches the file, but its text reaches the caller.
    void downloadStreamsIntoTheFileOverVerifiedTls()
    {
        QTemporaryDir dir;
        const auto tls = FixtureServer::generateCertificates(dir.path());
        QVERIFY(tls);
        FixtureServer server(*tls);
        const QByteArray body = QByteArray("0123456789abcdef!").repeated(190'000); // 3.2 MB
        server.serveBytes("/file.bin", body);
        server.script("/missing-page", {{.status = 404, .body = "<html>gone</html>"}});
        const HttpResult refused = CurlHttpClient().get(requestFor(server.url("/file.bin")), {});
        QCOMPARE(refused.error.kind, NetworkErrorKind::Tls);
        QCOMPARE(server.requestCount("/file.bin"), 0);

        CurlHttpClient client(tls->certificate);
        QList<QPair<qint64, qint64>> reports;
        const auto progress = [&](qint64 written, qint64 total) {
            reports.append({written, total});
        };
        const HttpResult result = client.download(
            requestFor(server.url("/file.bin")), dir.filePath("file.bin"), progress, CancelToken());
        QVERIFY(result.ok());
        QCOMPARE(result.response->status, 200);
        QVERIFY(result.response->body.isEmpty());
        QFile file(dir.filePath("file.bin"));
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == body);
        QVERIFY(reports.size() > 1);
        QCOMPARE(reports.last(), qMakePair(body.size(), body.size()));
        for (qsizetype i = 1; i < reports.size(); ++i)
            QVERIFY(reports[i].first > reports[i - 1].first);

        const HttpResult missing = client.download(requestFor(server.url("/missing-page")),
                                                   dir.filePath("error.bin"), {}, CancelToken());
        QVERIFY(missing.ok());
        QCOMPARE(missing.response->status, 404);
        QCOMPARE(missing.response->body, QByteArray("<html>gone</html>"));
        QCOMPARE(QFileInfo(dir.filePath("error.bin")).size(), 0);
    }

    // The kinds a loopback server cannot produce (time-outs, TLS, refused schemes and cancels
    // are shown above): which of them the retries treat as transient.
    void curlCodesMapToErrorKinds()
    {
        using K = NetworkErrorKind;
        const std::tuple<CURLcode, long, NetworkErrorKind, bool> rows[] = {
            {CURLE_COULDNT_RESOLVE_HOST, 0, K::CannotFindHost, true},
            {CURLE_COULDNT_CONNECT, ECONNREFUSED, K::CannotConnect, true},
            {CURLE_COULDNT_CONNECT, ENETUNREACH, K::NotConnected, true},
            {CURLE_PARTIAL_FILE, 0, K::ConnectionLost, true},
            {CURLE_BAD_CONTENT_ENCODING, 0, K::Other, false},
        };
        for (const auto &[code, osErrno, kind, transient] : rows) {
            const NetworkError error = CurlSupport::translate(code, osErrno);
            QCOMPARE(error.kind, kind);
            QCOMPARE(error.isTransient(), transient);
            QVERIFY(!error.message.isEmpty());
        }
    }
};

TOVRIN_TEST(TestCurlHttpClient);
#include "test_curl_http_client.moc"
