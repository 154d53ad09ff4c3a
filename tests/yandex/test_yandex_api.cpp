#include "fake_yandex_disk.h"
#include "support/test_main.h"
#include "yandex/folder_scan.h"
#include "yandex/link_pipeline.h"
#include "yandex/public_link.h"

#include <QTest>

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

namespace {

// The API client, and the folder scan over it, against a FakeYandexDisk that shares the folder
// "Shared"; requests time out after 1 s.
struct Api {
    explicit Api(double realTimeScale = 0.001)
        : sleep(realTimeScale), api(http, {.baseUrl = server.baseUrl(),
                                           .sleep = sleep.function(),
                                           .requestTimeoutSeconds = 1,
                                           .resourceTimeoutSeconds = 1})
    {
    }
    Result<PublicResource> fetch(const CancelToken &cancel = CancelToken()) const
    {
        return api.resource(FakeYandexDisk::kPublicLink, std::nullopt, std::nullopt, std::nullopt,
                            std::nullopt, cancel);
    }
    Result<QList<FilePlan>> scan()
    {
        ControlGate gate;
        return collectFiles(
            api, FakeYandexDisk::kPublicLink, std::nullopt, dir.path(), gate,
            {.status = [this](const QString &s) { statuses.append(s); }, .planned = {}});
    }

    FixtureServer server;
    FakeYandexDisk disk{server, server};
    CurlHttpClient http;
    RecordingSleep sleep;
    YandexAPI api;
    QTemporaryDir dir;
    QStringList statuses;
};

// Bodies may use single quotes for double ones.
Fault status(int code, QByteArray body = {}, const QByteArray &retryAfter = {})
{
    return Fault{.status = code, .body = body.replace('\'', '"'), .retryAfter = retryAfter};
}

} // namespace

// From the pasted link to the planned files: the link read, the API client's answers and
// retries, and the folder scan over it.
class TestYandexApi : public QObject {
    Q_OBJECT

private slots:
    // The link of the shared resource and the path inside it (none: "-"), or "" when refused.
    void linksSplitIntoKeyAndPath_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("publicURL");
        QTest::addColumn<QString>("path");
        const char *rows[][4] = {
            {"white space and line breaks around, trailing slash",
             " \t\nhttps://yadi.sk/d/AbC/\r\n \u00a0", "https://yadi.sk/d/AbC", "-"},
            {"capitals, user, port, query and fragment with an inner path",
             "HTTPS://user@DISK.YANDEX.RU:8443/d/AbC/Photos/2020/?lang=ru#top",
             "https://disk.yandex.ru/d/AbC", "/Photos/2020"},
            {"Cyrillic encoded twice", "https://disk.yandex.ru/d/AbC/%25D0%25A4%25D0%25BE",
             "https://disk.yandex.ru/d/AbC", "/\u0424\u043e"},
            {"malformed escape kept", "https://disk.yandex.ru/d/AbC/a%ZZb",
             "https://disk.yandex.ru/d/AbC", "/a%ZZb"},
            {"empty segments skipped", "https://disk.360.yandex.ru//d//AbC//x///y//",
             "https://disk.360.yandex.ru/d/AbC", "/x/y"},
            {"first two segments never decoded", "https://disk.yandex.ru/i/A%2Fb%20c/x",
             "https://disk.yandex.ru/i/A%2Fb%20c", "/x"},
            {"ftp", "ftp://disk.yandex.ru/d/AbC", "", ""},
            {"look-alike host", "https://disk.yandex.ru.example.com/d/AbC", "", ""},
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]) << QString(row[3]);
    }

    void linksSplitIntoKeyAndPath()
    {
        QFETCH(QString, input);
        QFETCH(QString, publicURL);
        QFETCH(QString, path);
        const Result<YandexPublicLink> link = validatePublicURL(input);
        QCOMPARE(link.ok(), !publicURL.isEmpty());
        if (!link.ok()) {
            QCOMPARE(link.error().message, QStringLiteral("Нужна публичная ссылка Яндекс Диска"));
            return;
        }
        QCOMPARE(link.value().publicURL, publicURL);
        QCOMPARE(link.value().path.value_or("-"), path);
    }

    // Answers that do not decode and error answers are reported at once, the latter with the
    // service's own words; transient ones are tried four times in all, waiting 1, 2, 4 s or
    // what Retry-After says (at least 1 s, at most 15 s).
    void errorStatusesAndRetries_data()
    {
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<QList<double>>("delays");
        QTest::addColumn<QString>("message"); // empty: the resource arrives
        const auto row = [](const char *name, Faults faults, QList<double> delays,
                            const char *message) {
            QTest::newRow(name) << faults << delays << QString(message);
        };
        row("message wins",
            {status(404, R"({"message":"Ресурс не найден","description":"N","error":"E"})")}, {},
            "Ресурс не найден");
        row("not JSON", {status(404, "<h1>404</h1>")}, {}, "Ошибка Яндекса: HTTP 404");
        const char *unknown = "Яндекс вернул ответ неизвестного формата";
        row("success that is no JSON", {status(200, "<html></html>")}, {}, unknown);
        row("fractional size", {status(200, "{'type':'file','name':'a','size':1.5}")}, {}, unknown);
        row("item without path",
            {status(200, "{'type':'dir','name':'d','_embedded':{'items':[{'type':'file',"
                         "'name':'x'}],'total':1}}")},
            {}, unknown);
        row("body over 16 MiB", {status(200, QByteArray(YandexAPI::kMaxBodyBytes + 1, ' '))}, {},
            "Сервер прислал слишком большой ответ");
        row("null size, unknown keys",
            {status(200, "{'type':'file','name':'a','size':null,'md5':'x'}")}, {}, "");
        row("408, 500, 502, then 503 with an error body",
            {status(408), status(500), status(502),
             status(503, R"({"message":"Сервис недоступен"})")},
            {1, 2, 4}, "Сервис недоступен");
        row("four time-outs", Faults(4, {.delayBeforeHeadersMs = 3000}), {1, 2, 4},
            "Яндекс не ответил вовремя после нескольких попыток");
        row("Retry-After 0, 5, then a date",
            {status(429, {}, "0"), status(503, {}, "5"),
             status(429, {}, "Wed, 21 Oct 2015 07:28:00 GMT")},
            {1, 5, 4}, "");
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

    // Pages after the first are asked several at once, yet the plan keeps the listing's order.
    void scanReadsALargeFolderInPages()
    {
        Api a;
        QStringList names;
        for (int i = 0; i < 650; ++i) {
            names.append(QStringLiteral("f%1.txt").arg(i, 3, 10, QLatin1Char('0')));
            a.disk.addFile('/' + names.last(), "x", true, i > 0);
        }
        const auto plans = a.scan();
        QVERIFY(plans.ok());
        QStringList planned;
        for (const FilePlan &plan : plans.value())
            planned.append(QFileInfo(plan.destination).fileName());
        QCOMPARE(planned, names);
        // The listing carries each file's link and digests; a file listed without a link has none.
        const FilePlan &linked = plans.value().at(1);
        QCOMPARE(linked.downloadLink, QUrl(a.server.url(a.disk.bodyPath("/f001.txt"))));
        QCOMPARE(linked.sha256, "2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881");
        QCOMPARE(linked.md5, "9dd4e461268c8034f5c8564e155c67a6");
        QVERIFY(plans.value().at(0).downloadLink.isEmpty());
        QList<int> offsets;
        for (const auto &request : a.server.requests(kResources))
            offsets.append(request.queryValue("offset").toInt());
        std::sort(offsets.begin(), offsets.end());
        QCOMPARE(offsets, (QList<int>{0, 200, 400, 600}));
        QCOMPARE(a.statuses.size(), 7);
        QCOMPARE(a.statuses.last(), "Начинается загрузка 650 файлов…");
    }

    // Links are asked ahead of the transfers, at most 8 at once and never further ahead of the
    // files taken than allowed; only the files that need one, each once, also those that the
    // listing adds after the first ones were taken.
    void linksAreAskedAheadInABoundedPipeline()
    {
        QList<bool> needed(60, true);
        needed[3] = needed[20] = needed[45] = false;
        std::mutex mutex;
        std::condition_variable changed;
        int inFlight = 0, most = 0;
        qsizetype furthest = -1;
        bool released = false;
        QList<qsizetype> asked;
        LinkPipeline pipeline(
            [&](const QString &remotePath) -> Result<QUrl> {
                std::unique_lock lock(mutex);
                const qsizetype index = remotePath.mid(2).toLongLong();
                asked.append(index);
                furthest = std::max(furthest, index);
                most = std::max(most, ++inFlight);
                changed.notify_all();
                // The first requests hold until the test has seen how many came at once.
                changed.wait_for(lock, std::chrono::seconds(5), [&] { return released; });
                --inFlight;
                return QUrl(QStringLiteral("https://host/%1").arg(index));
            },
            16);
        auto add = [&](qsizetype from, qsizetype to) {
            for (qsizetype i = from; i < to; ++i)
                pipeline.add(needed[i] ? std::optional(QStringLiteral("/f%1").arg(i))
                                       : std::nullopt);
        };
        add(0, 40);
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::seconds(5), [&] { return inFlight >= 8; });
            // A ninth request would come at once; the correct pipeline makes this wait run out.
            changed.wait_for(lock, std::chrono::milliseconds(300), [&] { return inFlight > 8; });
            released = true;
            changed.notify_all();
            // Nothing is taken yet: files 0..15 are asked, of which one needs no link.
            changed.wait_for(lock, std::chrono::seconds(5), [&] { return asked.size() >= 15; });
            QCOMPARE(furthest, 15);
        }
        for (qsizetype i = 0; i < needed.size(); ++i) {
            if (i == 30)
                add(40, needed.size()); // the listing's next page, while files are taken
            QCOMPARE(pipeline.asks(i), needed[i]);
            if (needed[i])
                QCOMPARE(pipeline.take(i).value(), QUrl(QStringLiteral("https://host/%1").arg(i)));
        }
        std::sort(asked.begin(), asked.end());
        QCOMPARE(asked.size(), 57);
        QVERIFY(std::adjacent_find(asked.begin(), asked.end()) == asked.end());
        QVERIFY(!asked.contains(3) && !asked.contains(20) && !asked.contains(45));
        QCOMPARE(most, LinkPipeline::kMaxInFlight);
    }

    // How a listing that is not a plain tree ends the scan of "Shared", which holds "/loop".
    void scanOfUnusualListings_data()
    {
        QTest::addColumn<Faults>("listings"); // answers to the listing requests, in order
        QTest::addColumn<QString>("message"); // empty: an empty folder
        const QByteArray loop = "{'type':'dir','name':'loop'";
        QTest::newRow("cyclic")
            << Faults{{},
                      status(200, loop
                                      + ",'_embedded':{'items':[{'type':'dir','name':'again',"
                                        "'path':'/loop'}],'total':1}}")}
            << "Яндекс вернул циклическую структуру папок";
        QTest::newRow("no contents")
            << Faults{{}, status(200, loop + '}')} << "Яндекс не вернул содержимое папки";
        QTest::newRow("empty page of a longer listing")
            << Faults{status(200, "{'type':'dir','name':'s','_embedded':{'items':[],'total':900}}")}
            << "";
    }

    void scanOfUnusualListings()
    {
        QFETCH(Faults, listings);
        QFETCH(QString, message);
        Api a;
        a.disk.addFolder("/loop");
        a.server.script(kResources, listings);
        const auto plans = a.scan();
        QCOMPARE(plans.ok(), message.isEmpty());
        if (plans.ok()) {
            QVERIFY(plans.value().isEmpty());
            QCOMPARE(a.server.requestCount(kResources), 1);
            QCOMPARE(a.statuses, QStringList{"Папка пуста"});
        } else {
            QCOMPARE(plans.error().message, message);
        }
    }
};

TOVRIN_TEST(TestYandexApi);
#include "test_yandex_api.moc"
