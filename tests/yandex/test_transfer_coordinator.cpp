#include "fake_yandex_disk.h"
#include "support/test_main.h"
#include "yandex/transfer_coordinator.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <future>

namespace {

using Fault = FixtureServer::Fault;
using Faults = QList<Fault>;

Fault dropAfter(qint64 bytes)
{
    return Fault{.dropAfterBytes = bytes};
}

// A coordinator whose retry waits are recorded, and the latest progress it reported (written
// on the transfer thread).
struct Harness {
    explicit Harness(const QString &caBundle = {})
        : coordinator(TransferOptions{.caBundlePath = caBundle, .sleep = sleep.function()})
    {
    }

    Status download(const FileTransfer &transfer, const CancelToken &cancel = CancelToken())
    {
        return coordinator.download(
            transfer,
            [this](qint64 bytes, qint64) {
                written = bytes;
                ++reports;
            },
            cancel);
    }

    std::future<Status> downloadAsync(const FileTransfer &transfer,
                                      const CancelToken &cancel = CancelToken())
    {
        return std::async(std::launch::async, [=, this] { return download(transfer, cancel); });
    }

    RecordingSleep sleep;
    std::atomic<qint64> written{-1};
    std::atomic<int> reports{0};
    TransferCoordinator coordinator;
};

FileTransfer transferOf(const FixtureServer &server, const QString &path, const QString &partPath,
                        qint64 listedSize = 0)
{
    return {QUrl(server.url(path)), partPath, QStringLiteral("файл.bin"), listedSize, {}};
}

bool finishes(std::future<Status> &pending, int seconds = 20)
{
    return pending.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
}

} // namespace

class TestTransferCoordinator : public QObject {
    Q_OBJECT

private slots:
    // A stale ".part" from an earlier run is always replaced, never continued.
    void retriesContinueByRangeAndErrorsNeverBecomeTheFile_data()
    {
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<QList<double>>("delays");
        QTest::addColumn<QByteArrayList>("ranges");
        QTest::addColumn<QString>("error"); // empty: the file arrives whole
        const QString lost = "Сетевое соединение было потеряно";
        const QString http = "Файл «файл.bin» не скачан: сервер ответил HTTP %1";
        QTest::newRow("two drops, then the rest")
            << Faults{dropAfter(100'000), dropAfter(50'000)} << QList<double>{1, 2}
            << QByteArrayList{"", "bytes=100000-", "bytes=150000-"} << "";
        QTest::newRow("range ignored: start over")
            << Faults{dropAfter(100'000), {.ignoreRange = true}} << QList<double>{1}
            << QByteArrayList{"", "bytes=100000-"} << "";
        QTest::newRow("cut short of the listed size without a length")
            << Faults{{.dropAfterBytes = 120'000, .omitContentLength = true}} << QList<double>{1}
            << QByteArrayList{"", "bytes=120000-"} << "";
        QTest::newRow("three drops fail the file")
            << Faults(3, dropAfter(1000)) << QList<double>{1, 2}
            << QByteArrayList{"", "bytes=1000-", "bytes=2000-"} << lost;
        QTest::newRow("503 then the body")
            << Faults{{.status = 503}} << QList<double>{1} << QByteArrayList{"", ""} << "";
        QTest::newRow("429 with Retry-After 30")
            << Faults{{.status = 429, .retryAfter = "30"}} << QList<double>{15}
            << QByteArrayList{"", ""} << "";
        QTest::newRow("drop, then 500 keeps the bytes")
            << Faults{dropAfter(70'000), {.status = 500}} << QList<double>{1, 2}
            << QByteArrayList{"", "bytes=70000-", "bytes=70000-"} << "";
        QTest::newRow("404") << Faults{{.status = 404, .body = "<html>error page</html>"}}
                             << QList<double>{} << QByteArrayList{""} << http.arg(404);
        QTest::newRow("403 before any byte")
            << Faults{{.status = 403, .body = "<html>error page</html>"}} << QList<double>{}
            << QByteArrayList{""} << http.arg(403);
        QTest::newRow("500 three times")
            << Faults(3, {.status = 500, .body = "<html>error page</html>"}) << QList<double>{1, 2}
            << QByteArrayList{"", "", ""} << http.arg(500);
    }

    void retriesContinueByRangeAndErrorsNeverBecomeTheFile()
    {
        QFETCH(Faults, faults);
        QFETCH(QList<double>, delays);
        QFETCH(QByteArrayList, ranges);
        QFETCH(QString, error);
        QTemporaryDir dir;
        FixtureServer server;
        const QByteArray body = patterned(400'000);
        server.serveBytes("/f", body);
        server.script("/f", faults);
        const QString part = dir.filePath("f.part");
        QFile stale(part);
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write(QByteArray(10'000, 'o')) > 0);
        stale.close();
        Harness harness;

        const Status status = harness.download(transferOf(server, "/f", part, body.size()));
        QCOMPARE(harness.sleep.delays(), delays);
        QByteArrayList sent;
        for (const auto &request : server.requests("/f"))
            sent.append(request.header("Range"));
        QCOMPARE(sent, ranges);
        QCOMPARE(status.ok(), error.isEmpty());
        if (status.ok()) {
            QCOMPARE(contentsOf(part), body);
            QCOMPARE(harness.written.load(), body.size());
        } else {
            QCOMPARE(status.error().message, error);
            QCOMPARE(status.error().kind,
                     error.contains("HTTP") ? ErrorKind::HttpStatus : ErrorKind::Network);
            QVERIFY(!contentsOf(part).contains("error page"));
        }
    }

    void expiredLinkIsRenewedOnce()
    {
        QTemporaryDir dir;
        FixtureServer server;
        const QByteArray body = patterned(200'000);
        server.serveBytes("/old", body);
        server.serveBytes("/new", body);
        server.script("/old", {dropAfter(50'000), {.status = 410}});
        server.script("/new", {{.status = 403}});
        Harness harness;
        FileTransfer transfer = transferOf(server, "/old", dir.filePath("f.part"));
        int renewals = 0;
        transfer.renewLink = [&]() -> Result<QUrl> {
            ++renewals;
            return QUrl(server.url("/new"));
        };
        // The fresh link is refused as well: a second refusal fails the file.
        const Status refused = harness.download(transfer);
        QVERIFY(!refused.ok());
        QCOMPARE(refused.error().message,
                 QString("Файл «файл.bin» не скачан: сервер ответил HTTP 403"));
        QCOMPARE(renewals, 1);
        QCOMPARE(server.requests("/new").value(0).header("Range"), QByteArray("bytes=50000-"));

        // This time the fresh link works and the file continues where it stopped.
        server.script("/old", {dropAfter(50'000), {.status = 403}});
        QVERIFY(harness.download(transfer).ok());
        QCOMPARE(renewals, 2);
        QCOMPARE(server.requests("/new").last().header("Range"), QByteArray("bytes=50000-"));
        QCOMPARE(contentsOf(dir.filePath("f.part")), body);
    }

    void pauseStopsEveryByteAndResumeContinues()
    {
        QTemporaryDir dir;
        FixtureServer server;
        const QByteArray body = patterned(3'000'000);
        server.serveBytes("/f", body);
        server.setBytesPerSecond(1'000'000);
        Harness harness;
        const QString part = dir.filePath("f.part");
        auto pending = harness.downloadAsync(transferOf(server, "/f", part));

        QTRY_VERIFY_WITH_TIMEOUT(harness.written.load() > 300'000, 20000);
        harness.coordinator.suspendAll();
        QTRY_COMPARE_WITH_TIMEOUT(harness.coordinator.transfersInFlight(), 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(server.activeRequests(), 0, 5000);
        const qint64 sentAtPause = server.bytesSent("/f");
        const int reportsAtPause = harness.reports.load();
        const qint64 writtenAtPause = harness.written.load();
        QTest::qWait(700);
        QCOMPARE(server.bytesSent("/f"), sentAtPause);
        QCOMPARE(harness.reports.load(), reportsAtPause);
        QCOMPARE(server.requestCount("/f"), 1);
        QCOMPARE(QFileInfo(part).size(), writtenAtPause);

        harness.coordinator.resumeAll();
        QVERIFY(finishes(pending));
        QVERIFY(pending.get().ok());
        QCOMPARE(contentsOf(part), body);
        QCOMPARE(server.requests("/f").value(1).header("Range"),
                 "bytes=" + QByteArray::number(writtenAtPause) + "-");
        QCOMPARE(server.requestCount("/f"), 2);
        QVERIFY(harness.sleep.delays().isEmpty());
    }

    void cancelEndsAStalledTransferAtOnce_data()
    {
        QTest::addColumn<bool>("all");
        QTest::newRow("cancelAll") << true;
        QTest::newRow("the transfer's own token") << false;
    }

    void cancelEndsAStalledTransferAtOnce()
    {
        QFETCH(bool, all);
        QTemporaryDir dir;
        FixtureServer server;
        server.serveBytes("/f", patterned(2'000'000));
        server.script("/f", {{.stallAfterBytes = 100'000, .stallMs = -1}});
        Harness harness;
        CancelToken token;
        auto pending =
            harness.downloadAsync(transferOf(server, "/f", dir.filePath("f.part")), token);
        QTRY_VERIFY_WITH_TIMEOUT(harness.written.load() >= 100'000, 20000);
        all ? harness.coordinator.cancelAll() : token.cancel();
        QVERIFY(finishes(pending, 5));
        const Status status = pending.get();
        QVERIFY(!status.ok() && status.error().isCancelled());
        QCOMPARE(harness.coordinator.transfersInFlight(), 0);
    }

    void eightFilesMoveAtOnce()
    {
        QTemporaryDir dir;
        FixtureServer server;
        server.setBytesPerSecond(400'000);
        Harness harness;
        std::vector<std::future<Status>> pending;
        for (int i = 0; i < 10; ++i) {
            const QString path = QStringLiteral("/f%1").arg(i);
            server.serveBytes(path, patterned(400'000));
            pending.push_back(
                harness.downloadAsync(transferOf(server, path, dir.filePath(path.mid(1)))));
        }
        for (auto &p : pending)
            QVERIFY(finishes(p, 60) && p.get().ok());
        QCOMPARE(server.maxConcurrentRequests(), 8);
    }

    void onlyHttpAndVerifiedTls()
    {
        QTemporaryDir dir;
        FixtureServer plain;
        plain.handle("/to-ftp", [](const auto &) {
            return FixtureServer::Reply{.status = 302,
                                        .headers = {{"Location", "ftp://127.0.0.1/x"}}};
        });
        Harness harness;
        QVERIFY(!harness.download(transferOf(plain, "/to-ftp", dir.filePath("a.part"))).ok());
        QCOMPARE(plain.requestCount("/to-ftp"), 1);
        QVERIFY(harness.sleep.delays().isEmpty());

        const auto tls = FixtureServer::generateCertificates(dir.filePath("tls"));
        QVERIFY(tls);
        FixtureServer secure(*tls);
        secure.serveBytes("/s", "secure body");
        const Status untrusted = harness.download(transferOf(secure, "/s", dir.filePath("b.part")));
        QVERIFY(!untrusted.ok());
        QCOMPARE(untrusted.error().kind, ErrorKind::Network);
        QCOMPARE(secure.requestCount("/s"), 0);

        Harness trusting(tls->certificate);
        QVERIFY(trusting.download(transferOf(secure, "/s", dir.filePath("c.part"))).ok());
        QCOMPARE(contentsOf(dir.filePath("c.part")), QByteArray("secure body"));
    }
};

TOVRIN_TEST(TestTransferCoordinator);
#include "test_transfer_coordinator.moc"
