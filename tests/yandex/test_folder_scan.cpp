#include "fake_yandex_disk.h"
#include "support/test_main.h"
#include "yandex/folder_scan.h"

#include <QFileInfo>
#include <QTest>

namespace {

const QString kResources = QStringLiteral("/v1/disk/public/resources");

struct Scan {
    FixtureServer server;
    FakeYandexDisk disk{server, server};
    CurlHttpClient http;
    RecordingSleep sleep;
    QTemporaryDir dir;
    QStringList statuses;

    Result<QList<FilePlan>> run()
    {
        ControlGate gate;
        const YandexAPI api(http, {.baseUrl = server.baseUrl(), .sleep = sleep.function()});
        return collectFiles(api, FakeYandexDisk::kPublicLink, std::nullopt, dir.path(), gate,
                            [this](const QString &s) { statuses.append(s); });
    }
};

} // namespace

class TestFolderScan : public QObject {
    Q_OBJECT

private slots:
    void largeFolderIsReadInPages()
    {
        Scan scan;
        for (int i = 0; i < 250; ++i)
            scan.disk.addFile(QStringLiteral("/f%1.txt").arg(i, 3, 10, QLatin1Char('0')), "x");
        const auto plans = scan.run();
        QVERIFY(plans.ok());
        QCOMPARE(plans.value().size(), 250);
        QList<int> offsets;
        for (const auto &request : scan.server.requests(kResources))
            offsets.append(request.queryValue("offset").toInt());
        QCOMPARE(offsets, (QList<int>{0, 200}));
        QCOMPARE(plans.value().first().destination, scan.dir.filePath("f000.txt"));
        QCOMPARE(plans.value().last().id, QString("/f249.txt"));
        QCOMPARE(scan.statuses, (QStringList{"Сканируется папка: найдено 100 файлов…",
                                             "Сканируется папка: найдено 200 файлов…",
                                             "Начинается загрузка 250 файлов…"}));
    }

    // How a listing that is not a plain tree ends the scan.
    void unusualListings_data()
    {
        QTest::addColumn<QString>("message"); // empty: an empty folder
        QTest::newRow("cyclic") << "Яндекс вернул циклическую структуру папок";
        QTest::newRow("no contents") << "Яндекс не вернул содержимое папки";
        QTest::newRow("empty page of a longer listing") << "";
    }

    void unusualListings()
    {
        QFETCH(QString, message);
        const QString row = QTest::currentDataTag();
        Scan scan;
        scan.disk.addFolder("/loop");
        if (row == "cyclic")
            scan.disk.addRawItem("/loop", "dir", "again", "/loop");
        else if (row == "no contents")
            scan.server.script(kResources,
                               {{}, {.status = 200, .body = R"({"type":"dir","name":"loop"})"}});
        else
            scan.server.script(
                kResources,
                {{.status = 200,
                  .body = R"({"type":"dir","name":"s","_embedded":{"items":[],"total":900}})"}});
        const auto plans = scan.run();
        QCOMPARE(plans.ok(), message.isEmpty());
        if (plans.ok()) {
            QVERIFY(plans.value().isEmpty());
            QCOMPARE(scan.server.requestCount(kResources), 1);
            QCOMPARE(scan.statuses, QStringList{"Папка пуста"});
        } else {
            QCOMPARE(plans.error().message, message);
            QVERIFY(QFileInfo(scan.dir.filePath("loop")).isDir());
        }
    }
};

TOVRIN_TEST(TestFolderScan);
#include "test_folder_scan.moc"
