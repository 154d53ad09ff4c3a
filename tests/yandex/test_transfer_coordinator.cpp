#include "fake_yandex_disk.h"
#include "support/test_main.h"
#include "yandex/transfer_coordinator.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <future>

namespace {

// A coordinator whose retry waits are recorded, fetching `body` from "/f" of a loopback server
// into "f.part", and the latest progress it reported (written on the transfer thread).
struct Harness {
    explicit Harness(const QByteArray &body)
        : coordinator(TransferOptions{.caBundlePath = {}, .sleep = sleep.function()})
    {
        server.serveBytes("/f", body);
    }

    Status download(FileTransfer transfer, ControlGate &gate)
    {
        transfer.url = server.url("/f");
        transfer.partPath = part;
        transfer.displayName = QStringLiteral("файл.bin");
        return coordinator.download(
            transfer, [this](qint64 bytes, qint64) { written = bytes; }, gate);
    }
    Status download(FileTransfer transfer = {})
    {
        ControlGate gate;
        return download(std::move(transfer), gate);
    }

    QTemporaryDir dir;
    const QString part = dir.filePath("f.part");
    FixtureServer server;
    RecordingSleep sleep;
    std::atomic<qint64> written{-1};
    TransferCoordinator coordinator;
};

} // namespace

class TestTransferCoordinator : public QObject {
    Q_OBJECT

private slots:
    // A stale ".part" from an earlier run is always replaced, never continued. A link refused
    // (403, 410), before or after it served bytes, is renewed once, to "/new" that answers
    // `renewal`. With a listed digest ("sha256" or "md5") the body must hash to it across all
    // its attempts.
    void retriesContinueByRangeAndErrorsNeverBecomeTheFile_data()
    {
        QTest::addColumn<QByteArray>("digest");
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<Faults>("renewal");
        QTest::addColumn<QList<double>>("delays");
        QTest::addColumn<QByteArrayList>("ranges"); // of every request, the renewed link's too
        QTest::addColumn<QString>("error");         // empty: the file arrives whole
        const auto row = [](const char *name, Faults faults, Faults renewal, QList<double> delays,
                            QByteArrayList ranges, QString error, QByteArray digest = {}) {
            QTest::newRow(name) << digest << faults << renewal << delays << ranges << error;
        };
        const QString lost = "Сетевое соединение было потеряно";
        const QString http = "Файл «файл.bin» не скачан: сервер ответил HTTP %1";
        const Fault drop50k{.dropAfterBytes = 50'000};
        row("two drops, then the rest", {{.dropAfterBytes = 100'000}, drop50k}, {}, {1, 2},
            {"", "bytes=100000-", "bytes=150000-"}, "");
        row("range ignored: start over", {{.dropAfterBytes = 100'000}, {.ignoreRange = true}}, {},
            {1}, {"", "bytes=100000-"}, "");
        row("cut short of the listed size without a length",
            {{.dropAfterBytes = 120'000, .omitContentLength = true}}, {}, {1},
            {"", "bytes=120000-"}, "");
        row("three drops fail the file", Faults(3, {.dropAfterBytes = 1000}), {}, {1, 2},
            {"", "bytes=1000-", "bytes=2000-"}, lost);
        row("drop, then 429 keeps the bytes, Retry-After 30 waits 15 s",
            {{.dropAfterBytes = 70'000}, {.status = 429, .retryAfter = "30"}}, {}, {1, 15},
            {"", "bytes=70000-", "bytes=70000-"}, "");
        row("expired link renewed", {drop50k, {.status = 410}}, {}, {1},
            {"", "bytes=50000-", "bytes=50000-"}, "");
        row("renewed link refused as well", {drop50k, {.status = 403}}, {{.status = 403}}, {1},
            {"", "bytes=50000-", "bytes=50000-"}, http.arg(403));
        row("refused before any byte: renewed", {{.status = 403}}, {}, {}, {"", ""}, "");
        // Wrong bytes of the right length: only the digest tells.
        const Fault wrong{.status = 200, .body = patterned(400'000, 7)};
        row("sha256 across a drop and a range", {{.dropAfterBytes = 100'000}, {.status = 429}}, {},
            {1, 2}, {"", "bytes=100000-", "bytes=100000-"}, "", "sha256");
        row("wrong bytes once: fetched again from 0", {wrong}, {}, {}, {"", ""}, "", "md5");
        row("wrong bytes twice", {{.dropAfterBytes = 100'000}, wrong, wrong}, {}, {1},
            {"", "bytes=100000-", ""}, "Файл «файл.bin» повреждён при загрузке", "sha256");
        row("500 three times", Faults(3, {.status = 500, .body = "<html>error page</html>"}), {},
            {1, 2}, {"", "", ""}, http.arg(500));
    }

    void retriesContinueByRangeAndErrorsNeverBecomeTheFile()
    {
        QFETCH(QByteArray, digest);
        QFETCH(Faults, faults);
        QFETCH(Faults, renewal);
        QFETCH(QString, error);
        const QByteArray body = patterned(400'000);
        Harness h(body);
        h.server.serveBytes("/new", body);
        h.server.script("/f", faults);
        h.server.script("/new", renewal);
        QFile stale(h.part);
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write(QByteArray(10'000, 'o')) > 0);
        stale.close();
        FileTransfer transfer;
        transfer.listedSize = body.size();
        transfer.renewLink = [&]() -> Result<QUrl> { return QUrl(h.server.url("/new")); };
        if (!digest.isEmpty()) {
            const bool md5 = digest == "md5";
            transfer.digest.algorithm =
                md5 ? ListedDigest::Algorithm::Md5 : ListedDigest::Algorithm::Sha256;
            transfer.digest.hex = QCryptographicHash::hash(body, md5 ? QCryptographicHash::Md5
                                                                     : QCryptographicHash::Sha256)
                                      .toHex();
        }

        const Status status = h.download(transfer);
        QTEST(h.sleep.delays(), "delays");
        QByteArrayList sent;
        for (const auto &request : h.server.requests())
            sent.append(request.header("Range"));
        QTEST(sent, "ranges");
        QCOMPARE(status.ok(), error.isEmpty());
        if (status.ok()) {
            QCOMPARE(contentsOf(h.part), body);
            QCOMPARE(h.written.load(), body.size());
        } else {
            QCOMPARE(status.error().message, error);
            QCOMPARE(status.error().kind, error.contains("HTTP")        ? ErrorKind::HttpStatus
                                          : error.contains("повреждён") ? ErrorKind::Decoding
                                                                        : ErrorKind::Network);
            QVERIFY(!contentsOf(h.part).contains("error page"));
        }
    }

    // An attempt that meets its run paused before it starts keeps the bytes already there:
    // the next attempt continues from them instead of starting the file over.
    void attemptBouncedByAPauseKeepsItsOffset()
    {
        QTemporaryDir dir;
        const QString part = dir.filePath("f.part");
        QFile file(part);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(100, 'x')) == 100);
        file.close();
        CurlTransferLoop loop(QByteArray(), 8);
        ControlGate gate;
        gate.pause();
        TransferAttempt attempt;
        attempt.url = QUrl("http://127.0.0.1:9/f");
        attempt.filePath = part;
        attempt.offset = 100;
        std::promise<TransferAttemptResult> ended;
        loop.start(
            attempt, {}, [&](const TransferAttemptResult &r) { ended.set_value(r); }, gate);
        const TransferAttemptResult result = ended.get_future().get();
        QCOMPARE(result.end, TransferAttemptResult::End::Suspended);
        QCOMPARE(result.fileSize, 100);
        QCOMPARE(QFileInfo(part).size(), 100);
    }

    // A transfer that has stopped moving is held by its run's pause without a byte more, and
    // continues by range on resume; a stop ends it at once, paused or not, and so does its
    // run's token alone. Whatever the run's end, the next run's transfer goes through.
    void pauseHoldsAndCancelEnds_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::newRow("pause, resume") << QStringList{"pause", "resume"};
        QTest::newRow("pause, stop") << QStringList{"pause", "stop"};
        QTest::newRow("stop") << QStringList{"stop"};
        QTest::newRow("the run's token") << QStringList{"token"};
    }

    void pauseHoldsAndCancelEnds()
    {
        QFETCH(QStringList, actions);
        const QByteArray body = patterned(3'000'000);
        Harness h(body);
        h.server.script("/f", {{.stallAfterBytes = 300'000, .stallMs = -1}});
        ControlGate gate;
        auto pending = std::async(std::launch::async, [&] { return h.download({}, gate); });
        QTRY_VERIFY_WITH_TIMEOUT(h.written.load() >= 300'000, 20000);

        for (const QString &action : actions) {
            if (action == "pause") {
                gate.pause();
                h.coordinator.suspend(gate);
                QTRY_COMPARE_WITH_TIMEOUT(h.coordinator.transfersInFlight(), 0, 5000);
                // The connection is closed: no byte can move on it while paused, and a new
                // request before resume would show in the count below.
                QTRY_COMPARE_WITH_TIMEOUT(h.server.activeRequests(), 0, 5000);
                QCOMPARE(h.written.load(), 300'000);
                QCOMPARE(QFileInfo(h.part).size(), 300'000);
            } else if (action == "resume") {
                gate.resume();
            } else if (action == "token") {
                gate.token().cancel();
            } else {
                gate.cancel();
                h.coordinator.stop(gate);
            }
        }
        QVERIFY(pending.wait_for(std::chrono::seconds(20)) == std::future_status::ready);
        const bool resumed = actions.last() == "resume";
        QCOMPARE(pending.get().ok(), resumed);
        QCOMPARE(h.coordinator.transfersInFlight(), 0);
        if (resumed) {
            QCOMPARE(contentsOf(h.part), body);
            QCOMPARE(h.server.requests("/f").value(1).header("Range"), QByteArray("bytes=300000-"));
            QCOMPARE(h.server.requestCount("/f"), 2);
            QVERIFY(h.sleep.delays().isEmpty());
        }
        QVERIFY(h.download().ok());
    }
};

TOVRIN_TEST(TestTransferCoordinator);
#include "test_transfer_coordinator.moc"
