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

using Fault = FixtureServer::Fault;
using Faults = QList<Fault>;
const QString kResources = QStringLiteral("/v1/disk/public/resources");
const QString kDownload = QStringLiteral("/v1/disk/public/resources/download");
const QByteArray kFile = "{\"type\":\"file\",\"name\":\"a.txt\",\"size\":5}";

// The API client against a loopback server that answers every resource request with kFile.
struct Api {
    explicit Api(double realTimeScale = 0.001, YandexApiOptions options = {})
        : sleep(realTimeScale), api(http, withServer(options))
    {
        server.serveBytes(kResources, kFile);
    }
    YandexApiOptions withServer(YandexApiOptions options)
    {
        options.baseUrl = server.baseUrl();
        options.sleep = sleep.function();
        return options;
    }
    Result<PublicResource> fetch(const CancelToken &cancel = CancelToken()) const
    {
        return api.resource("https://disk.yandex.ru/d/Key", std::nullopt, std::nullopt,
                            std::nullopt, std::nullopt, cancel);
    }

    FixtureServer server;
    CurlHttpClient http;
    RecordingSleep sleep;
    YandexAPI api;
};

Fault status(int code, const QByteArray &body = {}, const QByteArray &retryAfter = {})
{
    return Fault{.status = code, .body = body, .retryAfter = retryAfter};
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
        Api a;
        const auto resource = a.api.resource("https://disk.yandex.ru/d/K+y&=", QString("/Фото 1"),
                                             400, 200, YandexAPI::listingFields(), CancelToken());
        QVERIFY(resource.ok());
        QCOMPARE(resource.value().name, QString("a.txt"));
        QCOMPARE(resource.value().size, std::optional<qint64>(5));

        const auto request = a.server.requests(kResources).value(0);
        QCOMPARE(request.header("User-Agent"), QByteArray("Quenlow-macOS/1.0"));
        QCOMPARE(request.header("Authorization"), QByteArray());
        const QList<QPair<QString, QString>> query = {
            {"public_key", "https://disk.yandex.ru/d/K+y&="},
            {"path", "/Фото 1"},
            {"offset", "400"},
            {"limit", "200"},
            {"fields", YandexAPI::listingFields()}};
        QCOMPARE(request.query, query);
    }

    void downloadLinkDecodesHref()
    {
        Api a;
        a.server.serveBytes(
            kDownload,
            "{\"href\":\"https://downloader.disk.yandex.ru/disk/abc?x=1\",\"method\":\"GET\"}");
        const Result<QUrl> link =
            a.api.downloadURL("https://yadi.sk/d/Key", QString("/a.txt"), CancelToken());
        QVERIFY(link.ok());
        QCOMPARE(link.value(), QUrl("https://downloader.disk.yandex.ru/disk/abc?x=1"));
        QCOMPARE(a.server.requests(kDownload).value(0).queryValue("path"), QString("/a.txt"));

        a.server.serveBytes(kDownload, "{\"href\":\"http://bad host/x\"}");
        const Result<QUrl> bad =
            a.api.downloadURL("https://yadi.sk/d/Key", std::nullopt, CancelToken());
        QVERIFY(!bad.ok());
        QCOMPARE(bad.error().message, QString("Яндекс вернул ответ неизвестного формата"));
    }

    void answersThatDoNotDecode_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<bool>("hasEmbedded");
        QTest::newRow("no name") << QByteArray("{'type':'file'}") << false << false;
        QTest::newRow("size as text")
            << QByteArray("{'type':'file','name':'a','size':'5'}") << false << false;
        QTest::newRow("fractional size")
            << QByteArray("{'type':'file','name':'a','size':1.5}") << false << false;
        QTest::newRow("not JSON") << QByteArray("<html></html>") << false << false;
        QTest::newRow("item without path") << QByteArray("{'type':'dir','name':'d','_embedded':{"
                                                         "'items':[{'type':'file','name':'x'}],"
                                                         "'total':1}}")
                                           << false << false;
        QTest::newRow("null size, unknown keys")
            << QByteArray("{'type':'file','name':'a','size':null,'md5':'x'}") << true << false;
        QTest::newRow("listing page without _embedded")
            << QByteArray("{'type':'dir','name':'d'}") << true << false;
        QTest::newRow("listing page") << QByteArray("{'type':'dir','name':'d','_embedded':{'items'"
                                                    ":[{'type':'file','name':'x','path':'/x',"
                                                    "'size':3}],'total':1}}")
                                      << true << true;
    }

    void answersThatDoNotDecode()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, decodes);
        Api a;
        a.server.serveBytes(kResources, body.replace('\'', '"'));
        const auto result = a.fetch();
        QCOMPARE(result.ok(), decodes);
        if (!decodes)
            QCOMPARE(result.error().message, QString("Яндекс вернул ответ неизвестного формата"));
        else
            QTEST(result.value().embedded.has_value(), "hasEmbedded");
    }

    // Error answers are reported at once with the service's own words; transient ones are tried
    // four times in all, waiting 1, 2, 4 s or what Retry-After says (at most 15 s).
    void errorStatusesAndRetries_data()
    {
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<QList<double>>("delays");
        QTest::addColumn<QString>("message"); // empty: the resource arrives
        const QString http404 = "Ошибка Яндекса: HTTP 404";
        QTest::newRow("message wins") << Faults{status(
            404, R"({"message":"Ресурс не найден","description":"N","error":"E"})")}
                                      << QList<double>{} << "Ресурс не найден";
        QTest::newRow("description next")
            << Faults{status(404, R"({"description":"Not found","error":"E"})")} << QList<double>{}
            << "Not found";
        QTest::newRow("only error") << Faults{status(404, R"({"error":"DiskNotFoundError"})")}
                                    << QList<double>{} << "DiskNotFoundError";
        QTest::newRow("empty body") << Faults{status(404)} << QList<double>{} << http404;
        QTest::newRow("not JSON") << Faults{status(404, "<h1>404</h1>")} << QList<double>{}
                                  << http404;
        QTest::newRow("no usable field")
            << Faults{status(404, R"({"code":7})")} << QList<double>{} << http404;
        QTest::newRow("503 then 200") << Faults{status(503)} << QList<double>{1} << "";
        QTest::newRow("408, 500, 502 then 200")
            << Faults{status(408), status(500), status(502)} << QList<double>{1, 2, 4} << "";
        QTest::newRow("four 503 with an error body")
            << Faults(4, status(503, R"({"message":"Сервис недоступен"})"))
            << QList<double>{1, 2, 4} << "Сервис недоступен";
        QTest::newRow("four 503 without a body")
            << Faults(4, status(503)) << QList<double>{1, 2, 4} << "Ошибка Яндекса: HTTP 503";
        QTest::newRow("Retry-After 30 is capped at 15")
            << Faults{status(429, {}, "30")} << QList<double>{15} << "";
        QTest::newRow("Retry-After 0 waits 1 s")
            << Faults{status(429, {}, "0")} << QList<double>{1} << "";
        QTest::newRow("Retry-After 5 then back-off")
            << Faults{status(503, {}, "5"), status(503)} << QList<double>{5, 2} << "";
        QTest::newRow("Retry-After not a whole number")
            << Faults{status(429, {}, "0.5"), status(429, {}, "Wed, 21 Oct 2015 07:28:00 GMT")}
            << QList<double>{1, 2} << "";
    }

    void errorStatusesAndRetries()
    {
        QFETCH(Faults, faults);
        QFETCH(QList<double>, delays);
        QFETCH(QString, message);
        Api a;
        a.server.script(kResources, faults);
        const auto result = a.fetch();
        QCOMPARE(result.ok(), message.isEmpty());
        if (!result.ok())
            QCOMPARE(result.error().message, message);
        QCOMPARE(a.sleep.delays(), delays);
        QCOMPARE(a.server.requestCount(kResources), int(delays.size()) + 1);
    }

    void networkFailuresAreRetriedThenReported()
    {
        // Time-outs: four attempts, then the API's own message.
        Api a(0.001, YandexApiOptions{.resourceTimeoutSeconds = 0.3});
        a.server.script(kResources, Faults(4, {.delayBeforeHeadersMs = 3000}));
        const auto timedOut = a.fetch();
        QVERIFY(!timedOut.ok());
        QCOMPARE(timedOut.error().message,
                 QString("Яндекс не ответил вовремя после нескольких попыток"));
        QCOMPARE(a.server.requestCount(kResources), 4);
        QCOMPARE(a.sleep.delays(), (QList<double>{1, 2, 4}));

        // Another transient error (nobody listening) is passed on as the platform's text.
        RecordingSleep sleep;
        const YandexAPI closed(
            a.http, {.baseUrl = QStringLiteral("http://127.0.0.1:%1").arg(unusedLocalPort()),
                     .sleep = sleep.function()});
        const auto refused =
            closed.resource("https://disk.yandex.ru/d/Key", std::nullopt, std::nullopt,
                            std::nullopt, std::nullopt, CancelToken());
        QVERIFY(!refused.ok());
        QCOMPARE(refused.error().message, CurlSupport::translate(CURLE_COULDNT_CONNECT, 0).message);
        QCOMPARE(sleep.delays(), (QList<double>{1, 2, 4}));
    }

    void cancelEndsRequestsAndWaits()
    {
        Api a(1.0); // waits in real time
        a.server.script(kResources, {status(503, {}, "15"), {.delayBeforeHeadersMs = 60000}});

        // Cancelled during the 15 s wait.
        CancelToken duringWait;
        auto first = std::async(std::launch::async, [&] { return a.fetch(duringWait); });
        QTRY_COMPARE(a.sleep.delays().size(), 1);
        duringWait.cancel();
        QVERIFY(first.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
        QVERIFY(first.get().error().isCancelled());

        // Cancelled while the server holds the answer.
        CancelToken duringRequest;
        auto second = std::async(std::launch::async, [&] { return a.fetch(duringRequest); });
        QVERIFY(a.server.waitForRequests(kResources, 2));
        duringRequest.cancel();
        QVERIFY(second.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
        QVERIFY(second.get().error().isCancelled());
    }
};

TOVRIN_TEST(TestYandexApi);
#include "test_yandex_api.moc"
