#include "app/platform/curl_http_client.h"
#include "support/fixture_server.h"
#include "support/test_main.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <future>
#include <thread>

namespace {

HttpRequest requestFor(const QString &url)
{
    HttpRequest request;
    request.url = QUrl(url);
    request.requestTimeoutSeconds = 10;
    request.resourceTimeoutSeconds = 30;
    return request;
}

FixtureServer::Reply redirectTo(const QString &location)
{
    FixtureServer::Reply reply;
    reply.status = 302;
    reply.headers = {{"Location", location.toUtf8()}};
    return reply;
}

} // namespace

class TestCurlHttpClient : public QObject {
    Q_OBJECT

private slots:
    void followsRedirectsAndSendsHeaders()
    {
        FixtureServer server;
        server.handle("/start", [](const auto &) { return redirectTo("/middle"); });
        server.handle("/middle", [&](const auto &) { return redirectTo(server.url("/end")); });
        server.serveBytes("/end", "final body");
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
    }

    void redirectLimitAndForeignSchemesAreRefused()
    {
        FixtureServer server;
        // An endless chain stops after 10 redirects.
        server.handle("/loop", [](const auto &) { return redirectTo("/loop"); });
        server.handle("/ftp", [](const auto &) { return redirectTo("ftp://127.0.0.1/file"); });
        server.handle("/file", [](const auto &) { return redirectTo("file:///etc/passwd"); });
        CurlHttpClient client;

        const HttpResult loop = client.get(requestFor(server.url("/loop")), CancelToken());
        QVERIFY(!loop.ok());
        QCOMPARE(server.requestCount("/loop"), 11);
        QVERIFY(!loop.error.message.isEmpty());

        for (const char *path : {"/ftp", "/file"}) {
            const HttpResult refused = client.get(requestFor(server.url(path)), CancelToken());
            QVERIFY2(!refused.ok(), path);
            QCOMPARE(refused.error.kind, NetworkErrorKind::BadUrl);
            QVERIFY(!refused.error.isTransient());
        }
    }

    void stalledRequestsEndByCancelOrTimeOut()
    {
        FixtureServer server;
        server.serveBytes("/stall", QByteArray(1000, 'x'));
        server.script("/stall",
                      QList<FixtureServer::Fault>(2, {.stallAfterBytes = 10, .stallMs = -1}));
        CurlHttpClient client;
        CancelToken cancel;
        auto pending = std::async(std::launch::async, [&] {
            return client.get(requestFor(server.url("/stall")), cancel);
        });
        QVERIFY(server.waitForRequests("/stall", 1));
        cancel.cancel();
        QVERIFY(pending.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
        const HttpResult cancelled = pending.get();
        QVERIFY(!cancelled.ok());
        QCOMPARE(cancelled.error.kind, NetworkErrorKind::Cancelled);

        HttpRequest request = requestFor(server.url("/stall"));
        request.resourceTimeoutSeconds = 0.3;
        const HttpResult silent = client.get(request, CancelToken());
        QVERIFY(!silent.ok());
        QCOMPARE(silent.error.kind, NetworkErrorKind::TimedOut);
        QVERIFY(silent.error.isTransient());
    }

    void downloadStreamsIntoTheFileWithProgress()
    {
        QTemporaryDir dir;
        FixtureServer server;
        QByteArray body(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < body.size(); ++i)
            body[i] = char(i * 7);
        server.serveBytes("/file.bin", body);
        server.script("/missing-page", {{.status = 404, .body = "<html>gone</html>"}});
        CurlHttpClient client;

        const QString path = dir.filePath("file.bin");
        QList<QPair<qint64, qint64>> reports;
        const HttpResult result = client.download(
            requestFor(server.url("/file.bin")), path,
            [&](qint64 written, qint64 total) {
                reports.append({written, total});
            },
            CancelToken());
        QVERIFY(result.ok());
        QCOMPARE(result.response->status, 200);
        QVERIFY(result.response->body.isEmpty());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == body);
        QVERIFY(reports.size() > 1);
        QCOMPARE(reports.last(), qMakePair(body.size(), body.size()));
        for (qsizetype i = 1; i < reports.size(); ++i)
            QVERIFY(reports[i].first > reports[i - 1].first);

        // An error page is never written into the file; the caller still gets its text.
        const QString errorPath = dir.filePath("error.bin");
        const HttpResult missing =
            client.download(requestFor(server.url("/missing-page")), errorPath, {}, CancelToken());
        QVERIFY(missing.ok());
        QCOMPARE(missing.response->status, 404);
        QCOMPARE(missing.response->body, QByteArray("<html>gone</html>"));
        QCOMPARE(QFileInfo(errorPath).size(), 0);
    }

    void httpsVerifiesCertificatesAgainstTheInjectedCa()
    {
        QTemporaryDir dir;
        const auto tls = FixtureServer::generateCertificates(dir.path());
        QVERIFY(tls);
        FixtureServer server(*tls);
        server.serveBytes("/secure", "secret");

        CurlHttpClient systemTrust;
        const HttpResult refused =
            systemTrust.get(requestFor(server.url("/secure")), CancelToken());
        QVERIFY(!refused.ok());
        QCOMPARE(refused.error.kind, NetworkErrorKind::Tls);
        QCOMPARE(server.requestCount("/secure"), 0);

        CurlHttpClient testTrust(tls->certificate);
        const HttpResult accepted = testTrust.get(requestFor(server.url("/secure")), CancelToken());
        QVERIFY(accepted.ok());
        QCOMPARE(accepted.response->body, QByteArray("secret"));
    }

    void curlCodesMapToErrorKinds_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<long>("osErrno");
        QTest::addColumn<NetworkErrorKind>("kind");
        QTest::addColumn<bool>("transient");
        QTest::newRow("time-out") << int(CURLE_OPERATION_TIMEDOUT) << 0L
                                  << NetworkErrorKind::TimedOut << true;
        QTest::newRow("unknown host")
            << int(CURLE_COULDNT_RESOLVE_HOST) << 0L << NetworkErrorKind::CannotFindHost << true;
        QTest::newRow("refused") << int(CURLE_COULDNT_CONNECT) << long(ECONNREFUSED)
                                 << NetworkErrorKind::CannotConnect << true;
        QTest::newRow("network down") << int(CURLE_COULDNT_CONNECT) << long(ENETUNREACH)
                                      << NetworkErrorKind::NotConnected << true;
        QTest::newRow("reset") << int(CURLE_RECV_ERROR) << 0L << NetworkErrorKind::ConnectionLost
                               << true;
        QTest::newRow("short body")
            << int(CURLE_PARTIAL_FILE) << 0L << NetworkErrorKind::ConnectionLost << true;
        QTest::newRow("empty answer")
            << int(CURLE_GOT_NOTHING) << 0L << NetworkErrorKind::ConnectionLost << true;
        QTest::newRow("certificate")
            << int(CURLE_PEER_FAILED_VERIFICATION) << 0L << NetworkErrorKind::Tls << false;
        QTest::newRow("scheme") << int(CURLE_UNSUPPORTED_PROTOCOL) << 0L << NetworkErrorKind::BadUrl
                                << false;
        QTest::newRow("aborted") << int(CURLE_ABORTED_BY_CALLBACK) << 0L
                                 << NetworkErrorKind::Cancelled << false;
        QTest::newRow("other") << int(CURLE_BAD_CONTENT_ENCODING) << 0L << NetworkErrorKind::Other
                               << false;
    }

    void curlCodesMapToErrorKinds()
    {
        QFETCH(int, code);
        QFETCH(long, osErrno);
        QFETCH(NetworkErrorKind, kind);
        QFETCH(bool, transient);
        const NetworkError error = CurlSupport::translate(CURLcode(code), osErrno);
        QCOMPARE(error.kind, kind);
        QCOMPARE(error.isTransient(), transient);
        QVERIFY(!error.message.isEmpty());
    }
};

TOVRIN_TEST(TestCurlHttpClient);
#include "test_curl_http_client.moc"
