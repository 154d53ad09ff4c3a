#include "support/fixture_server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

#include <thread>
#include <vector>

// The fixture's own promises that the network tests build on: exact ranges, faults as scripted,
// counters that never run ahead of the client, HTTPS, and a prompt stop.
using Fault = FixtureServer::Fault;

namespace {

const QByteArray kAbsent = "(absent)";

struct Fetched {
    CURLcode code = CURLE_OK;
    long status = 0;
    QByteArray body;
    QByteArray headers; // the raw header block

    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : headers.split('\n')) {
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        }
        return kAbsent;
    }
};

size_t append(char *data, size_t size, size_t count, void *to)
{
    static_cast<QByteArray *>(to)->append(data, qsizetype(size * count));
    return size * count;
}

// One GET, trusting `caFile` for https; a handle passed in keeps its connection open afterwards.
Fetched fetch(const QString &url, const QByteArray &range = {}, const QString &caFile = {},
              long timeoutMs = 20000, CURL *reuse = nullptr)
{
    CURL *curl = reuse ? reuse : curl_easy_init();
    Fetched got;
    const QByteArray rawUrl = url.toUtf8(), ca = caFile.toLocal8Bit();
    curl_easy_setopt(curl, CURLOPT_URL, rawUrl.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &got.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, append);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &got.headers);
    curl_easy_setopt(curl, CURLOPT_RANGE, range.isEmpty() ? nullptr : range.constData());
    curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.isEmpty() ? nullptr : ca.constData());
    got.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &got.status);
    if (!reuse)
        curl_easy_cleanup(curl);
    return got;
}

constexpr qint64 kSize = 200000;

struct Row {
    const char *name = "";
    QByteArray range{};
    Fault fault{};
    int status = 200;
    qint64 first = 0;
    qint64 last = kSize - 1; // of the content the client gets
    CURLcode code = CURLE_OK;
    int minMs = 0;
    qint64 serverRate = 0;
};

} // namespace

class TestFixtureServer : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::optional<FixtureServer::TlsFiles> m_tls;
    QByteArray m_content; // no two nearby slices alike, so an offset off by one shows

private slots:
    void initTestCase()
    {
        QCOMPARE(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK);
        QString error;
        m_tls = FixtureServer::generateCertificates(m_dir.filePath("tls"), &error);
        QVERIFY2(m_tls, qPrintable(error));
        for (int i = 0; m_content.size() < kSize; ++i)
            m_content += QByteArray::number(i) + ',';
        m_content.truncate(kSize);
        QFile file(m_dir.filePath("content.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(m_content) == kSize);
    }
    void cleanupTestCase() { curl_global_cleanup(); }

    // Content from memory and from a file, in ranges and with every kind of scripted fault. An
    // endless stall ends when the client gives up; without a length, a cut looks complete.
    void answersAsScripted_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<Row>("row");
        const CURLcode ok = CURLE_OK, cut = CURLE_PARTIAL_FILE, timeout = CURLE_OPERATION_TIMEDOUT;
        const qint64 all = kSize - 1;
        const Row rows[] = {
            {"no range"},
            {"a-b", "10-19", {}, 206, 10, 19},
            {"a- across chunks", "70000-", {}, 206, 70000},
            {"end past the body", "199990-500000", {}, 206, 199990},
            {"start at the end", "200000-", {}, 416, 0, -1},
            {"several ranges get the whole body", "0-1,5-6"},
            {"range ignored when told", "10-19", {.ignoreRange = true}},
            {"drop in a slice", "1000-", {.dropAfterBytes = 10}, 206, 1000, 1009, cut},
            {"status", "", {.status = 503, .body = "busy", .retryAfter = "7"}, 503},
            {"drop", "", {.dropAfterBytes = 100000}, 200, 0, 99999, cut},
            {"drop before any byte", "", {.dropAfterBytes = 0}, 200, 0, -1, cut},
            {"delay", "", {.delayBeforeHeadersMs = 300}, 200, 0, all, ok, 250},
            {"stall", "", {.stallAfterBytes = 1000, .stallMs = 500}, 200, 0, all, ok, 450},
            {"endless stall", "", {.stallAfterBytes = 9, .stallMs = -1}, 200, 0, 8, timeout, 900},
            {"server rate", "", {}, 200, 0, all, ok, 150, 1'000'000},
            {"own rate", "", {.bytesPerSecond = 500'000}, 200, 0, all, ok, 350, 1'000'000},
            {"no length", "", {.omitContentLength = true}},
            {"cut, no length", "", {.dropAfterBytes = 5, .omitContentLength = true}, 200, 0, 4},
        };
        for (const char *source : {"bytes", "file", "https"}) {
            for (const Row &row : rows)
                QTest::addRow("%s: %s", source, row.name) << QString(source) << row;
        }
    }

    void answersAsScripted()
    {
        QFETCH(QString, source);
        QFETCH(Row, row);
        const QByteArray &content = m_content;
        std::optional<FixtureServer> https, plain;
        FixtureServer &server = source == "https" ? https.emplace(*m_tls) : plain.emplace();
        if (source == "file")
            server.serveFile("/f", m_dir.filePath("content.bin"));
        else
            server.serveBytes("/f", content);
        server.setBytesPerSecond(row.serverRate);
        server.script("/f", {row.fault});
        QElapsedTimer timer;
        timer.start();
        const Fetched got = fetch(server.url("/f"), row.range, m_tls->certificate,
                                  row.fault.stallMs < 0 ? 1000 : 20000);
        QCOMPARE(got.code == CURLE_RECV_ERROR ? CURLE_PARTIAL_FILE : got.code, row.code);
        QCOMPARE(got.status, long(row.status));
        const bool isContent = row.fault.status == 0;
        QCOMPARE(got.body,
                 isContent ? content.mid(row.first, row.last - row.first + 1) : row.fault.body);
        QCOMPARE(server.bytesSent("/f"), got.body.size());
        QVERIFY2(timer.elapsed() >= row.minMs, QByteArray::number(timer.elapsed()));
        QCOMPARE(got.header("Accept-Ranges"),
                 isContent && !row.fault.ignoreRange ? QByteArray("bytes") : kAbsent);
        const bool ranged = row.status == 206 || row.status == 416;
        const QByteArray span =
            row.status == 416 ? "*"
                              : QByteArray::number(row.first) + '-' + QByteArray::number(row.last);
        if (got.code == CURLE_OK) { // a cut answer announced more than the client got
            QCOMPARE(got.header("Content-Range"), ranged ? "bytes " + span + "/200000" : kAbsent);
            QCOMPARE(got.header("Content-Length"),
                     row.fault.omitContentLength ? kAbsent : QByteArray::number(got.body.size()));
        }
        QCOMPARE(got.header("Retry-After"),
                 row.fault.retryAfter.isEmpty() ? kAbsent : row.fault.retryAfter);
        QTRY_COMPARE_WITH_TIMEOUT(server.activeRequests(), 0, 5000);
        // The script is spent: the next request is answered normally.
        QCOMPARE(fetch(server.url("/f"), "10-19", m_tls->certificate).body, content.mid(10, 10));
    }

    void countsConcurrentAnswersAndStopsPromptly()
    {
        FixtureServer server;
        server.serveBytes("/quick", "quick");
        server.serveBytes("/f", m_content);
        // Each client is held after 10 bytes until the server stops: all are answered at once.
        const int clientCount = 32;
        server.script("/f", QList<Fault>(clientCount, Fault{.stallAfterBytes = 10, .stallMs = -1}));
        CURL *idle = curl_easy_init(); // a connection left open for keep-alive
        QCOMPARE(fetch(server.url("/quick"), {}, {}, 20000, idle).body, QByteArray("quick"));
        QElapsedTimer timer;

        std::vector<Fetched> results(clientCount);
        std::vector<std::jthread> clients;
        for (int i = 0; i < clientCount; ++i)
            clients.emplace_back([&, i] { results[size_t(i)] = fetch(server.url("/f")); });
        const bool allHeld = QTest::qWaitFor(
            [&] {
                return server.activeRequests() == clientCount
                       && server.bytesSent("/f") == 10 * clientCount;
            },
            20000);
        timer.start();
        server.stop();
        QVERIFY2(timer.elapsed() < 3000, QByteArray::number(timer.elapsed()));
        clients.clear();
        curl_easy_cleanup(idle);
        QVERIFY(allHeld);
        for (const Fetched &result : results)
            QVERIFY(result.code != CURLE_OK && result.body.size() == 10);
        QCOMPARE(server.totalBytesSent(), 10 * clientCount + 5);
        QCOMPARE(server.maxConcurrentRequests(), clientCount);
        QCOMPARE(server.activeRequests(), 0);
        QCOMPARE(server.totalRequests(), clientCount + 1);
    }

    void httpsNeedsATrustedCertificate()
    {
        const auto stranger = FixtureServer::generateCertificates(m_dir.filePath("other"));
        QVERIFY(stranger);
        FixtureServer server(*m_tls);
        server.serveBytes("/f", "body");
        QCOMPARE(server.baseUrl(), QString("https://127.0.0.1:%1").arg(server.port()));
        QCOMPARE(fetch(server.url("/f"), {}, stranger->certificate).code,
                 CURLE_PEER_FAILED_VERIFICATION);
        QVERIFY(!FixtureServer({m_dir.filePath("none"), m_dir.filePath("none")}).isListening());
    }
};

QTEST_GUILESS_MAIN(TestFixtureServer)
#include "test_fixture_server.moc"
