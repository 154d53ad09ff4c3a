#include "app/platform/curl_http_client.h"
#include "recording_sleep.h"
#include "support/fixture_server.h"
#include "support/test_main.h"
#include "yandex/yandex_api.h"

#include <QTest>

#include <future>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kResources = QStringLiteral("/v1/disk/public/resources");
const QString kDownload = QStringLiteral("/v1/disk/public/resources/download");
const QByteArray kFile = "{\"type\":\"file\",\"name\":\"a.txt\",\"size\":5}";

YandexAPI makeApi(HttpClient &http, FixtureServer &server, RecordingSleep &sleep)
{
    YandexApiOptions options;
    options.baseUrl = server.baseUrl();
    options.sleep = sleep.function();
    return YandexAPI(http, options);
}

Result<PublicResource> fetch(const YandexAPI &api, const CancelToken &cancel = CancelToken())
{
    return api.resource("https://disk.yandex.ru/d/Key", std::nullopt, std::nullopt, std::nullopt,
                        std::nullopt, cancel);
}

FixtureServer::Fault status(int code, const QByteArray &body = {},
                            const QByteArray &retryAfter = {})
{
    return FixtureServer::Fault{.status = code, .body = body, .retryAfter = retryAfter};
}

// A loopback port that nobody listens on: bound once by the system's choice, then released.
quint16 unusedLocalPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address));
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace

class TestYandexApi : public QObject {
    Q_OBJECT

private slots:
    void requestCarriesQueryItemsInOrderAndUserAgent()
    {
        FixtureServer server;
        server.serveBytes(kResources, kFile, "application/json");
        CurlHttpClient http;
        RecordingSleep sleep;
        const YandexAPI api = makeApi(http, server, sleep);

        const auto resource = api.resource("https://disk.yandex.ru/d/K+y&=", QString("/Фото 1"),
                                           400, 200, YandexAPI::listingFields(), CancelToken());
        QVERIFY(resource.ok());
        QCOMPARE(resource.value().name, QString("a.txt"));
        QCOMPARE(resource.value().size, std::optional<qint64>(5));

        const auto request = server.requests(kResources).value(0);
        QCOMPARE(request.header("User-Agent"), QByteArray("Quenlow-macOS/1.0"));
        QCOMPARE(request.query.size(), 5);
        QCOMPARE(request.query[0],
                 qMakePair(QString("public_key"), QString("https://disk.yandex.ru/d/K+y&=")));
        QCOMPARE(request.query[1], qMakePair(QString("path"), QString("/Фото 1")));
        QCOMPARE(request.query[2], qMakePair(QString("offset"), QString("400")));
        QCOMPARE(request.query[3], qMakePair(QString("limit"), QString("200")));
        QCOMPARE(request.query[4].second, YandexAPI::listingFields());
        QVERIFY(request.header("Authorization").isEmpty());
    }

    void downloadLinkDecodesHref()
    {
        FixtureServer server;
        server.serveBytes(
            kDownload,
            "{\"href\":\"https://downloader.disk.yandex.ru/disk/abc?x=1\",\"method\":\"GET\"}",
            "application/json");
        CurlHttpClient http;
        RecordingSleep sleep;
        const YandexAPI api = makeApi(http, server, sleep);
        const Result<QUrl> link =
            api.downloadURL("https://yadi.sk/d/Key", QString("/a.txt"), CancelToken());
        QVERIFY(link.ok());
        QCOMPARE(link.value(), QUrl("https://downloader.disk.yandex.ru/disk/abc?x=1"));
        QCOMPARE(server.requests(kDownload).value(0).queryValue("path"), QString("/a.txt"));

        server.serveBytes(kDownload, "{\"href\":\"http://bad host/x\"}", "application/json");
        const Result<QUrl> bad =
            api.downloadURL("https://yadi.sk/d/Key", std::nullopt, CancelToken());
        QVERIFY(!bad.ok());
        QCOMPARE(bad.error().message, QString("Яндекс вернул ответ неизвестного формата"));
    }

    void answersThatDoNotDecode_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<bool>("hasEmbedded");
        QTest::newRow("no name") << QByteArray("{\"type\":\"file\"}") << false << false;
        QTest::newRow("size as text")
            << QByteArray("{\"type\":\"file\",\"name\":\"a\",\"size\":\"5\"}") << false << false;
        QTest::newRow("fractional size")
            << QByteArray("{\"type\":\"file\",\"name\":\"a\",\"size\":1.5}") << false << false;
        QTest::newRow("not JSON") << QByteArray("<html></html>") << false << false;
        QTest::newRow("item without path")
            << QByteArray("{\"type\":\"dir\",\"name\":\"d\",\"_embedded\":{\"items\":[{\"type\":"
                          "\"file\",\"name\":\"x\"}],\"total\":1}}")
            << false << false;
        QTest::newRow("null size, unknown keys")
            << QByteArray("{\"type\":\"file\",\"name\":\"a\",\"size\":null,\"md5\":\"x\"}") << true
            << false;
        QTest::newRow("listing page without _embedded")
            << QByteArray("{\"type\":\"dir\",\"name\":\"d\"}") << true << false;
        QTest::newRow("listing page")
            << QByteArray("{\"type\":\"dir\",\"name\":\"d\",\"_embedded\":{\"items\":[{\"type\":"
                          "\"file\",\"name\":\"x\",\"path\":\"/x\",\"size\":3}],\"total\":1}}")
            << true << true;
    }

    void answersThatDoNotDecode()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, decodes);
        QFETCH(bool, hasEmbedded);
        FixtureServer server;
        server.serveBytes(kResources, body, "application/json");
        CurlHttpClient http;
        RecordingSleep sleep;
        const auto result = fetch(makeApi(http, server, sleep));
        QCOMPARE(result.ok(), decodes);
        if (!decodes)
            QCOMPARE(result.error().message, QString("Яндекс вернул ответ неизвестного формата"));
        else
            QCOMPARE(result.value().embedded.has_value(), hasEmbedded);
    }

    void errorStatusesAreNotRetried_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("message wins") << QByteArray(
            "{\"message\":\"Ресурс не найден\",\"description\":\"Not found\",\"error\":\"E\"}")
                                      << "Ресурс не найден";
        QTest::newRow("description next")
            << QByteArray("{\"description\":\"Not found\",\"error\":\"E\"}") << "Not found";
        QTest::newRow("only error")
            << QByteArray("{\"error\":\"DiskNotFoundError\"}") << "DiskNotFoundError";
        QTest::newRow("empty body") << QByteArray() << "Ошибка Яндекса: HTTP 404";
        QTest::newRow("not JSON") << QByteArray("<h1>404</h1>") << "Ошибка Яндекса: HTTP 404";
        QTest::newRow("no usable field")
            << QByteArray("{\"code\":7}") << "Ошибка Яндекса: HTTP 404";
    }

    void errorStatusesAreNotRetried()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        FixtureServer server;
        server.serveBytes(kResources, kFile, "application/json");
        server.script(kResources, {status(404, body)});
        CurlHttpClient http;
        RecordingSleep sleep;
        const auto result = fetch(makeApi(http, server, sleep));
        QVERIFY(!result.ok());
        QCOMPARE(result.error().message, message);
        QCOMPARE(server.requestCount(kResources), 1);
        QVERIFY(sleep.delays().isEmpty());
    }

    void transientStatusesAreRetried_data()
    {
        QTest::addColumn<QList<FixtureServer::Fault>>("faults");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QList<double>>("delays");
        QTest::addColumn<QString>("message");
        QTest::newRow("503 then 200")
            << QList<FixtureServer::Fault>{status(503)} << true << QList<double>{1} << QString();
        QTest::newRow("408, 500, 502 then 200")
            << QList<FixtureServer::Fault>{status(408), status(500), status(502)} << true
            << QList<double>{1, 2, 4} << QString();
        QTest::newRow("four 503 with an error body")
            << QList<FixtureServer::Fault>(4, status(503, "{\"message\":\"Сервис недоступен\"}"))
            << false << QList<double>{1, 2, 4} << "Сервис недоступен";
        QTest::newRow("four 503 without a body")
            << QList<FixtureServer::Fault>(4, status(503)) << false << QList<double>{1, 2, 4}
            << "Ошибка Яндекса: HTTP 503";
        QTest::newRow("Retry-After 30 is capped at 15")
            << QList<FixtureServer::Fault>{status(429, {}, "30")} << true << QList<double>{15}
            << QString();
        QTest::newRow("Retry-After 0 waits 1 s")
            << QList<FixtureServer::Fault>{status(429, {}, "0")} << true << QList<double>{1}
            << QString();
        QTest::newRow("Retry-After 5 then back-off")
            << QList<FixtureServer::Fault>{status(503, {}, "5"), status(503)} << true
            << QList<double>{5, 2} << QString();
    }

    void transientStatusesAreRetried()
    {
        QFETCH(QList<FixtureServer::Fault>, faults);
        QFETCH(bool, succeeds);
        QFETCH(QList<double>, delays);
        QFETCH(QString, message);
        FixtureServer server;
        server.serveBytes(kResources, kFile, "application/json");
        server.script(kResources, faults);
        CurlHttpClient http;
        RecordingSleep sleep;
        const auto result = fetch(makeApi(http, server, sleep));
        QCOMPARE(result.ok(), succeeds);
        if (!succeeds)
            QCOMPARE(result.error().message, message);
        QCOMPARE(sleep.delays(), delays);
        // Never a fifth request.
        QCOMPARE(server.requestCount(kResources), std::min<int>(int(faults.size()) + 1, 4));
    }

    void retryAfterThatIsNotANumber()
    {
        FixtureServer server;
        server.handle(kResources, [&](const FixtureServer::Request &) {
            FixtureServer::Reply reply;
            if (server.requestCount(kResources) == 1) {
                reply.status = 429;
                reply.headers = {{"Retry-After", "0.5"}};
            } else if (server.requestCount(kResources) == 2) {
                reply.status = 429;
                reply.headers = {{"Retry-After", "Wed, 21 Oct 2015 07:28:00 GMT"}};
            } else {
                reply.body = kFile;
            }
            return reply;
        });
        CurlHttpClient http;
        RecordingSleep sleep;
        QVERIFY(fetch(makeApi(http, server, sleep)).ok());
        QCOMPARE(sleep.delays(), (QList<double>{1, 2}));
    }

    void networkFailuresAreRetriedThenReported()
    {
        // Time-outs: four attempts, then the API's own message.
        FixtureServer server;
        server.serveBytes(kResources, kFile, "application/json");
        server.script(kResources, QList<FixtureServer::Fault>(
                                      4, FixtureServer::Fault{.delayBeforeHeadersMs = 3000}));
        CurlHttpClient http;
        RecordingSleep sleep;
        YandexApiOptions options;
        options.baseUrl = server.baseUrl();
        options.sleep = sleep.function();
        options.resourceTimeoutSeconds = 0.3;
        const auto timedOut = fetch(YandexAPI(http, options));
        QVERIFY(!timedOut.ok());
        QCOMPARE(timedOut.error().message,
                 QString("Яндекс не ответил вовремя после нескольких попыток"));
        QCOMPARE(server.requestCount(kResources), 4);
        QCOMPARE(sleep.delays(), (QList<double>{1, 2, 4}));

        // Another transient error (nobody listening) is passed on as the platform's text.
        const quint16 closedPort = unusedLocalPort();
        RecordingSleep sleep2;
        options.baseUrl = QStringLiteral("http://127.0.0.1:%1").arg(closedPort);
        options.sleep = sleep2.function();
        const auto refused = fetch(YandexAPI(http, options));
        QVERIFY(!refused.ok());
        QCOMPARE(refused.error().message, CurlSupport::translate(CURLE_COULDNT_CONNECT, 0).message);
        QCOMPARE(sleep2.delays(), (QList<double>{1, 2, 4}));
    }

    void cancelEndsRequestsAndWaits()
    {
        FixtureServer server;
        server.serveBytes(kResources, kFile, "application/json");
        server.script(kResources,
                      {status(503, {}, "15"), FixtureServer::Fault{.delayBeforeHeadersMs = 60000}});
        CurlHttpClient http;
        RecordingSleep realTime(1.0);
        const YandexAPI api = makeApi(http, server, realTime);

        // Cancelled during the 15 s wait.
        CancelToken duringWait;
        auto first = std::async(std::launch::async, [&] { return fetch(api, duringWait); });
        QTRY_COMPARE(realTime.delays().size(), 1);
        duringWait.cancel();
        QVERIFY(first.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
        QVERIFY(first.get().error().isCancelled());

        // Cancelled while the server holds the answer.
        CancelToken duringRequest;
        auto second = std::async(std::launch::async, [&] { return fetch(api, duringRequest); });
        QVERIFY(server.waitForRequests(kResources, 2));
        duringRequest.cancel();
        QVERIFY(second.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
        QVERIFY(second.get().error().isCancelled());
    }
};

TOVRIN_TEST(TestYandexApi);
#include "test_yandex_api.moc"
