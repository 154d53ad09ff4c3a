#include "fake_yandex_disk.h"
#include "support/test_main.h"
#include "yandex/yandex_api.h"

#include <QTest>

#include <future>

namespace {

using Fault = FixtureServer::Fault;
using Faults = QList<Fault>;
const QString kResources = QStringLiteral("/v1/disk/public/resources");

// The API client against a loopback server that answers every resource request with a file;
// requests time out after 1 s.
struct Api {
    explicit Api(double realTimeScale = 0.001)
        : sleep(realTimeScale), api(http, {.baseUrl = server.baseUrl(),
                                           .sleep = sleep.function(),
                                           .requestTimeoutSeconds = 1,
                                           .resourceTimeoutSeconds = 1})
    {
        server.serveBytes(kResources, R"({"type":"file","name":"a.txt","size":5})");
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

// Bodies may use single quotes for double ones.
Fault status(int code, QByteArray body = {}, const QByteArray &retryAfter = {})
{
    return Fault{.status = code, .body = body.replace('\'', '"'), .retryAfter = retryAfter};
}

} // namespace

class TestYandexApi : public QObject {
    Q_OBJECT

private slots:
    // Answers that do not decode and error answers are reported at once, the latter with the
    // service's own words; transient ones are tried four times in all, waiting 1, 2, 4 s or
    // what Retry-After says (at most 15 s).
    void errorStatusesAndRetries_data()
    {
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<QList<double>>("delays");
        QTest::addColumn<QString>("message"); // empty: the resource arrives
        const auto row = [](const char *name, Faults faults, QList<double> delays,
                            const char *message) {
            QTest::newRow(name) << faults << delays << QString(message);
        };
        const char *http404 = "Ошибка Яндекса: HTTP 404";
        row("message wins",
            {status(404, R"({"message":"Ресурс не найден","description":"N","error":"E"})")}, {},
            "Ресурс не найден");
        row("description next", {status(404, R"({"description":"Not found","error":"E"})")}, {},
            "Not found");
        row("only error", {status(404, R"({"error":"DiskNotFoundError"})")}, {},
            "DiskNotFoundError");
        row("not JSON", {status(404, "<h1>404</h1>")}, {}, http404);
        row("no usable field", {status(404, R"({"code":7})")}, {}, http404);
        const char *unknown = "Яндекс вернул ответ неизвестного формата";
        row("success that is no JSON", {status(200, "<html></html>")}, {}, unknown);
        row("no name", {status(200, "{'type':'file'}")}, {}, unknown);
        row("size as text", {status(200, "{'type':'file','name':'a','size':'5'}")}, {}, unknown);
        row("fractional size", {status(200, "{'type':'file','name':'a','size':1.5}")}, {}, unknown);
        row("item without path",
            {status(200, "{'type':'dir','name':'d','_embedded':{'items':[{'type':'file',"
                         "'name':'x'}],'total':1}}")},
            {}, unknown);
        row("null size, unknown keys",
            {status(200, "{'type':'file','name':'a','size':null,'md5':'x'}")}, {}, "");
        row("408, 500, 502 then 200", {status(408), status(500), status(502)}, {1, 2, 4}, "");
        row("four 503 with an error body",
            Faults(4, status(503, R"({"message":"Сервис недоступен"})")), {1, 2, 4},
            "Сервис недоступен");
        row("four time-outs", Faults(4, {.delayBeforeHeadersMs = 3000}), {1, 2, 4},
            "Яндекс не ответил вовремя после нескольких попыток");
        row("Retry-After 0 waits 1 s", {status(429, {}, "0")}, {1}, "");
        row("Retry-After 5 then back-off", {status(503, {}, "5"), status(503)}, {5, 2}, "");
        row("Retry-After not a whole number",
            {status(429, {}, "0.5"), status(429, {}, "Wed, 21 Oct 2015 07:28:00 GMT")}, {1, 2}, "");
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

    // A stop during a retry wait ends it at once (one in a request is the manager's to show).
    void cancelEndsTheRetryWait()
    {
        Api a(1.0); // waits in real time
        a.server.script(kResources, {status(503, {}, "15")});
        CancelToken cancel;
        auto pending = std::async(std::launch::async, [&] { return a.fetch(cancel); });
        QTRY_COMPARE(a.sleep.delays().size(), 1);
        cancel.cancel();
        QVERIFY(pending.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
        QVERIFY(!pending.get().ok());
    }
};

TOVRIN_TEST(TestYandexApi);
#include "test_yandex_api.moc"
