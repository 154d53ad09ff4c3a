#include "support/fixture_server.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

#include <chrono>
#include <thread>
#include <vector>

// The fixture's own promises: exact ranges, scripted faults, honest counters, a prompt stop.
using Fault = FixtureServer::Fault;

namespace {

constexpr qint64 kSize = 200000;

struct Fetched {
    CURLcode code = CURLE_OK;
    long status = 0;
    QByteArray body;
    bool acceptsRanges = false;
};

Fetched fetch(const QString &url, const QByteArray &range = {}, long timeoutMs = 20000)
{
    const auto append = [](char *data, size_t size, size_t count, void *to) {
        static_cast<QByteArray *>(to)->append(data, qsizetype(size * count));
        return size * count;
    };
    CURL *curl = curl_easy_init();
    Fetched got;
    QByteArray headers;
    const QByteArray rawUrl = url.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, rawUrl.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &got.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, +append);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headers);
    curl_easy_setopt(curl, CURLOPT_RANGE, range.isEmpty() ? nullptr : range.constData());
    got.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &got.status);
    curl_easy_cleanup(curl);
    got.acceptsRanges = headers.toLower().contains("\naccept-ranges: bytes");
    return got;
}

struct Row {
    const char *name = "";
    QByteArray range{};
    Fault fault{};
    int status = 200;
    qint64 first = 0;
    qint64 last = kSize - 1; // of the content the client gets
    CURLcode code = CURLE_OK;
};

} // namespace

class TestFixtureServer : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_content; // no two nearby slices alike, so an offset off by one shows

private slots:
    void initTestCase()
    {
        QCOMPARE(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK);
        for (int i = 0; m_content.size() < kSize; ++i)
            m_content += QByteArray::number(i) + ',';
        m_content.truncate(kSize);
        QFile file(m_dir.filePath("content.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(m_content) == kSize);
    }
    void cleanupTestCase() { curl_global_cleanup(); }

    // An endless stall ends when the client gives up; without a length, a cut looks complete.
    void answersAsScripted_data()
    {
        QTest::addColumn<Row>("row");
        const CURLcode cut = CURLE_PARTIAL_FILE, timeout = CURLE_OPERATION_TIMEDOUT;
        const Row rows[] = {
            {"no range"},
            {"a- across chunks", "70000-", {}, 206, 70000},
            {"drop in a slice", "1000-", {.dropAfterBytes = 10}, 206, 1000, 1009, cut},
            {"drop", "", {.dropAfterBytes = 100000}, 200, 0, 99999, cut},
            {"endless stall", "", {.stallAfterBytes = 9, .stallMs = -1}, 200, 0, 8, timeout},
            {"cut, no length", "", {.dropAfterBytes = 5, .omitContentLength = true}, 200, 0, 4},
        };
        for (const Row &row : rows)
            QTest::newRow(row.name) << row;
    }

    void answersAsScripted()
    {
        QFETCH(Row, row);
        for (const bool fromFile : {false, true}) {
            FixtureServer server;
            if (fromFile)
                server.serveFile("/f", m_dir.filePath("content.bin"));
            else
                server.serveBytes("/f", m_content);
            server.script("/f", {row.fault});
            const Fetched got =
                fetch(server.url("/f"), row.range, row.fault.stallMs < 0 ? 1000 : 20000);
            QCOMPARE(got.code == CURLE_RECV_ERROR ? CURLE_PARTIAL_FILE : got.code, row.code);
            QCOMPARE(got.status, long(row.status));
            QCOMPARE(got.body, m_content.mid(row.first, row.last - row.first + 1));
            QCOMPARE(server.bytesSent("/f"), got.body.size());
            QVERIFY(got.acceptsRanges);
            QTRY_COMPARE_WITH_TIMEOUT(server.activeRequests(), 0, 5000);
            // The script is spent: the next request is answered normally.
            QCOMPARE(fetch(server.url("/f"), "10-19").body, m_content.mid(10, 10));
        }
    }

    // Each client is held after 10 bytes until the server stops: all are answered at once, and
    // the stop cuts them promptly.
    void answersManyAtOnceAndStopsPromptly()
    {
        FixtureServer server;
        server.serveBytes("/f", m_content);
        const int clientCount = 32;
        server.script("/f", QList<Fault>(clientCount, Fault{.stallAfterBytes = 10, .stallMs = -1}));
        std::vector<Fetched> results(clientCount);
        std::vector<std::jthread> clients;
        for (int i = 0; i < clientCount; ++i)
            clients.emplace_back([&, i] { results[size_t(i)] = fetch(server.url("/f")); });
        QTRY_VERIFY_WITH_TIMEOUT(server.activeRequests() == clientCount
                                     && server.bytesSent("/f") == 10 * clientCount,
                                 20000);
        const auto stopping = std::chrono::steady_clock::now();
        server.stop();
        QVERIFY(std::chrono::steady_clock::now() - stopping < std::chrono::seconds(3));
        clients.clear();
        for (const Fetched &result : results)
            QVERIFY(result.code != CURLE_OK && result.body.size() == 10);
        QCOMPARE(server.maxConcurrentRequests(), clientCount);
        QCOMPARE(server.totalRequests(), clientCount);
    }
};

QTEST_GUILESS_MAIN(TestFixtureServer)
#include "test_fixture_server.moc"
