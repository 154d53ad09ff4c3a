#include "recording_sleep.h"
#include "support/fixture_server.h"
#include "support/test_main.h"
#include "yandex/transfer_coordinator.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <future>

namespace {

using Faults = QList<FixtureServer::Fault>;

QByteArray patterned(qsizetype size, int seed = 1)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed * 7 + i / 251) & 0xff);
    return bytes;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

FixtureServer::Fault dropAfter(qint64 bytes)
{
    return FixtureServer::Fault{.dropAfterBytes = bytes};
}

// The latest progress report, written on the transfer thread.
struct ProgressLog {
    std::atomic<qint64> written{-1};
    std::atomic<int> reports{0};
    TransferCoordinator::Progress callback()
    {
        return [this](qint64 bytes, qint64) {
            written = bytes;
            ++reports;
        };
    }
};

class Harness {
public:
    explicit Harness(const QString &caBundle = {})
    {
        TransferOptions options;
        options.sleep = sleep.function();
        options.caBundlePath = caBundle;
        coordinator = std::make_unique<TransferCoordinator>(options);
    }

    Status download(const FileTransfer &transfer, const CancelToken &cancel = CancelToken())
    {
        return coordinator->download(transfer, progress.callback(), cancel);
    }

    std::future<Status> downloadAsync(const FileTransfer &transfer,
                                      const CancelToken &cancel = CancelToken())
    {
        return std::async(std::launch::async, [this, transfer, cancel] {
            return coordinator->download(transfer, progress.callback(), cancel);
        });
    }

    RecordingSleep sleep;
    ProgressLog progress;
    std::unique_ptr<TransferCoordinator> coordinator;
};

FileTransfer transferOf(const FixtureServer &server, const QString &path, const QString &partPath,
                        qint64 listedSize = 0)
{
    FileTransfer transfer;
    transfer.url = QUrl(server.url(path));
    transfer.partPath = partPath;
    transfer.displayName = QStringLiteral("файл.bin");
    transfer.listedSize = listedSize;
    return transfer;
}

bool finishes(std::future<Status> &pending, int seconds = 20)
{
    return pending.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
}

} // namespace

class TestTransferCoordinator : public QObject {
    Q_OBJECT

private slots:
    void droppedConnectionsAreRetriedAndContinuedByRange_data()
    {
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QList<double>>("delays");
        QTest::addColumn<QByteArrayList>("ranges");
        QTest::newRow("two drops, then the rest")
            << Faults{dropAfter(100'000), dropAfter(50'000)} << true << QList<double>{1, 2}
            << QByteArrayList{"", "bytes=100000-", "bytes=150000-"};
        QTest::newRow("range ignored: start over")
            << Faults{dropAfter(100'000), FixtureServer::Fault{.ignoreRange = true}} << true
            << QList<double>{1} << QByteArrayList{"", "bytes=100000-"};
        QTest::newRow("three drops fail the file")
            << Faults{dropAfter(1000), dropAfter(1000), dropAfter(1000)} << false
            << QList<double>{1, 2} << QByteArrayList{"", "bytes=1000-", "bytes=2000-"};
        QTest::newRow("503 then the body") << Faults{FixtureServer::Fault{.status = 503}} << true
                                           << QList<double>{1} << QByteArrayList{"", ""};
        QTest::newRow("429 with Retry-After 30")
            << Faults{FixtureServer::Fault{.status = 429, .retryAfter = "30"}} << true
            << QList<double>{15} << QByteArrayList{"", ""};
        QTest::newRow("drop, then 500 keeps the bytes")
            << Faults{dropAfter(70'000), FixtureServer::Fault{.status = 500}} << true
            << QList<double>{1, 2} << QByteArrayList{"", "bytes=70000-", "bytes=70000-"};
    }

    void droppedConnectionsAreRetriedAndContinuedByRange()
    {
        QFETCH(Faults, faults);
        QFETCH(bool, succeeds);
        QFETCH(QList<double>, delays);
        QFETCH(QByteArrayList, ranges);
        QTemporaryDir dir;
        FixtureServer server;
        const QByteArray body = patterned(400'000);
        server.serveBytes("/f", body);
        server.script("/f", faults);
        Harness harness;

        const QString part = dir.filePath("f.part");
        const Status status = harness.download(transferOf(server, "/f", part));
        QCOMPARE(status.ok(), succeeds);
        QCOMPARE(harness.sleep.delays(), delays);
        QByteArrayList sent;
        for (const auto &request : server.requests("/f"))
            sent.append(request.header("Range"));
        QCOMPARE(sent, ranges);
        if (succeeds) {
            QCOMPARE(readAll(part), body);
            QCOMPARE(harness.progress.written.load(), body.size());
        } else {
            QCOMPARE(status.error().message, QString("Сетевое соединение было потеряно"));
            QCOMPARE(status.error().kind, ErrorKind::Network);
        }
    }

    void errorStatusesNeverBecomeTheFile_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("requests");
        QTest::newRow("404") << 404 << 1;
        QTest::newRow("403 before any byte") << 403 << 1;
        QTest::newRow("500 three times") << 500 << 3;
    }

    void errorStatusesNeverBecomeTheFile()
    {
        QFETCH(int, code);
        QFETCH(int, requests);
        QTemporaryDir dir;
        FixtureServer server;
        server.serveBytes("/f", "real body");
        server.script("/f", Faults(3, FixtureServer::Fault{.status = code,
                                                           .body = "<html>error page</html>"}));
        Harness harness;
        const QString part = dir.filePath("f.part");
        const Status status = harness.download(transferOf(server, "/f", part));
        QVERIFY(!status.ok());
        QCOMPARE(status.error().message,
                 QStringLiteral("Файл «файл.bin» не скачан: сервер ответил HTTP %1").arg(code));
        QCOMPARE(server.requestCount("/f"), requests);
        QVERIFY(!QFile::exists(part));
    }

    void shortBodiesAreFailedAttempts()
    {
        QTemporaryDir dir;
        FixtureServer server;
        const QByteArray body = patterned(300'000);
        server.serveBytes("/cl", body);
        server.serveBytes("/nocl", body);
        // With a length the cut is seen by curl; without one only the listed size tells.
        server.script("/cl", {dropAfter(120'000)});
        server.script("/nocl",
                      {FixtureServer::Fault{.dropAfterBytes = 120'000, .omitContentLength = true}});
        Harness harness;

        QVERIFY(harness.download(transferOf(server, "/cl", dir.filePath("cl.part"))).ok());
        QCOMPARE(readAll(dir.filePath("cl.part")), body);

        QVERIFY(
            harness.download(transferOf(server, "/nocl", dir.filePath("nocl.part"), body.size()))
                .ok());
        QCOMPARE(readAll(dir.filePath("nocl.part")), body);
        QCOMPARE(server.requests("/nocl").value(1).header("Range"), QByteArray("bytes=120000-"));
    }

    void existingPartIsReplaced()
    {
        QTemporaryDir dir;
        FixtureServer server;
        server.serveBytes("/f", "new");
        const QString part = dir.filePath("f.part");
        {
            QFile stale(part);
            QVERIFY(stale.open(QIODevice::WriteOnly));
            stale.write(QByteArray(10'000, 'o'));
        }
        Harness harness;
        QVERIFY(harness.download(transferOf(server, "/f", part)).ok());
        QCOMPARE(readAll(part), QByteArray("new"));
    }

    void expiredLinkIsRenewedOnce()
    {
        QTemporaryDir dir;
        FixtureServer server;
        const QByteArray body = patterned(200'000);
        server.serveBytes("/old", body);
        server.serveBytes("/new", body);
        server.script("/old", {dropAfter(50'000), FixtureServer::Fault{.status = 410}});
        server.script("/new", {FixtureServer::Fault{.status = 403}});
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
        server.script("/old", {dropAfter(50'000), FixtureServer::Fault{.status = 403}});
        const Status renewed = harness.download(transfer);
        QVERIFY(renewed.ok());
        QCOMPARE(renewals, 2);
        QCOMPARE(server.requests("/new").last().header("Range"), QByteArray("bytes=50000-"));
        QCOMPARE(readAll(dir.filePath("f.part")), body);
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

        QTRY_VERIFY_WITH_TIMEOUT(harness.progress.written.load() > 300'000, 20000);
        harness.coordinator->suspendAll();
        QTRY_COMPARE_WITH_TIMEOUT(harness.coordinator->transfersInFlight(), 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(server.activeRequests(), 0, 5000);
        const qint64 sentAtPause = server.bytesSent("/f");
        const int reportsAtPause = harness.progress.reports.load();
        const qint64 writtenAtPause = harness.progress.written.load();
        QTest::qWait(700);
        QCOMPARE(server.bytesSent("/f"), sentAtPause);
        QCOMPARE(harness.progress.reports.load(), reportsAtPause);
        QCOMPARE(server.requestCount("/f"), 1);
        QCOMPARE(QFileInfo(part).size(), writtenAtPause);

        harness.coordinator->resumeAll();
        QVERIFY(finishes(pending));
        QVERIFY(pending.get().ok());
        QCOMPARE(readAll(part), body);
        QCOMPARE(server.requestCount("/f"), 2);
        QCOMPARE(server.requests("/f").value(1).header("Range"),
                 "bytes=" + QByteArray::number(writtenAtPause) + "-");
        QVERIFY(harness.sleep.delays().isEmpty());
    }

    void cancelAllEndsTransfersAtOnce()
    {
        QTemporaryDir dir;
        FixtureServer server;
        server.serveBytes("/f", patterned(2'000'000));
        server.script("/f", {FixtureServer::Fault{.stallAfterBytes = 100'000, .stallMs = -1}});
        Harness harness;
        auto pending = harness.downloadAsync(transferOf(server, "/f", dir.filePath("f.part")));
        QTRY_VERIFY_WITH_TIMEOUT(harness.progress.written.load() >= 100'000, 20000);
        harness.coordinator->cancelAll();
        QVERIFY(finishes(pending, 5));
        const Status status = pending.get();
        QVERIFY(!status.ok());
        QVERIFY(status.error().isCancelled());
        QCOMPARE(harness.coordinator->transfersInFlight(), 0);

        // A cancelled token alone ends a stalled transfer as well.
        server.script("/f", {FixtureServer::Fault{.stallAfterBytes = 100'000, .stallMs = -1}});
        CancelToken token;
        harness.progress.written = -1;
        auto second =
            harness.downloadAsync(transferOf(server, "/f", dir.filePath("g.part")), token);
        QTRY_VERIFY_WITH_TIMEOUT(harness.progress.written.load() >= 100'000, 20000);
        token.cancel();
        QVERIFY(finishes(second, 10));
        QVERIFY(second.get().error().isCancelled());
    }

    void eightFilesMoveAtOnce()
    {
        QTemporaryDir dir;
        FixtureServer server;
        server.setBytesPerSecond(400'000);
        const QByteArray body = patterned(400'000);
        for (int i = 0; i < 10; ++i)
            server.serveBytes(QStringLiteral("/f%1").arg(i), body);
        Harness harness;
        std::vector<std::future<Status>> pending;
        for (int i = 0; i < 10; ++i)
            pending.push_back(
                harness.downloadAsync(transferOf(server, QStringLiteral("/f%1").arg(i),
                                                 dir.filePath(QStringLiteral("f%1.part").arg(i)))));
        for (auto &p : pending) {
            QVERIFY(finishes(p, 60));
            QVERIFY(p.get().ok());
        }
        QCOMPARE(server.maxConcurrentRequests(), 8);
    }

    void onlyHttpAndVerifiedTls()
    {
        QTemporaryDir dir;
        FixtureServer plain;
        plain.handle("/to-ftp", [](const auto &) {
            return FixtureServer::Reply{.status = 302,
                                        .body = {},
                                        .contentType = "text/plain",
                                        .headers = {{"Location", "ftp://127.0.0.1/x"}}};
        });
        Harness harness;
        const Status refused =
            harness.download(transferOf(plain, "/to-ftp", dir.filePath("a.part")));
        QVERIFY(!refused.ok());
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
        QCOMPARE(readAll(dir.filePath("c.part")), QByteArray("secure body"));
    }
};

TOVRIN_TEST(TestTransferCoordinator);
#include "test_transfer_coordinator.moc"
