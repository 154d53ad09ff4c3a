#include "app/platform/curl_http_client.h"
#include "fake_yandex_disk.h"
#include "recording_sleep.h"
#include "support/test_main.h"
#include "yandex/folder_scan.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

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

QByteArray item(const QString &type, const QString &name, const QString &path)
{
    return QStringLiteral("{\"type\":\"%1\",\"name\":\"%2\",\"path\":\"%3\"}")
        .arg(type, name, path)
        .toUtf8();
}

} // namespace

class TestFolderScan : public QObject {
    Q_OBJECT

private slots:
    void largeFolderIsReadInPages()
    {
        Scan scan;
        for (int i = 0; i < 450; ++i)
            scan.disk.addFile(QStringLiteral("/f%1.txt").arg(i, 3, 10, QLatin1Char('0')), "x");
        const auto plans = scan.run();
        QVERIFY(plans.ok());
        QCOMPARE(plans.value().size(), 450);
        QCOMPARE(scan.disk.listedOffsets(QString()), (QList<int>{0, 200, 400}));
        for (const auto &request : scan.server.requests("/v1/disk/public/resources")) {
            QCOMPARE(request.queryValue("limit"), QString("200"));
            QCOMPARE(request.queryValue("fields"), YandexAPI::listingFields());
        }
        QCOMPARE(plans.value().first().destination, scan.dir.filePath("f000.txt"));
        QCOMPARE(plans.value().last().id, QString("/f449.txt"));
        QCOMPARE(scan.statuses, (QStringList{"Сканируется папка: найдено 100 файлов…",
                                             "Сканируется папка: найдено 200 файлов…",
                                             "Сканируется папка: найдено 300 файлов…",
                                             "Сканируется папка: найдено 400 файлов…",
                                             "Начинается загрузка 450 файлов…"}));
    }

    // Names are made safe and unique across the whole tree (the rules themselves are tested
    // with file_naming); folders are created as they are met, files only planned.
    void treeIsWalkedDepthFirstWithSafeUniqueNames()
    {
        Scan scan;
        scan.disk.addFolder("/Docs");
        scan.disk.addFile("/Docs/Photo.JPG", "1");
        scan.disk.addFile("/Docs/photo.jpg", "22", false);
        scan.disk.addFolder("/docs");
        scan.disk.addFile("/docs/a:b", "5");
        scan.disk.addRawItem("/docs", item("symlink", "other", "/docs/other"));
        scan.disk.addFile("/top.txt", "7");

        const auto plans = scan.run();
        QVERIFY(plans.ok());
        // The last sub-folder is listed first; files in the order they were met.
        QStringList planned;
        for (const FilePlan &plan : plans.value())
            planned.append(plan.id + " > "
                           + QDir(scan.dir.path()).relativeFilePath(plan.destination) + " "
                           + QString::number(plan.size));
        QCOMPARE(planned, (QStringList{"/top.txt > top.txt 1", "/docs/a:b > docs (2)/a_b 1",
                                       "/Docs/Photo.JPG > Docs/Photo.JPG 1",
                                       "/Docs/photo.jpg > Docs/photo (2).jpg 0"}));
        QVERIFY(QFileInfo(scan.dir.filePath("Docs")).isDir());
        QVERIFY(QFileInfo(scan.dir.filePath("docs (2)")).isDir());
        QVERIFY(!QFileInfo::exists(scan.dir.filePath("top.txt")));
    }

    void brokenListings_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("cyclic") << "Яндекс вернул циклическую структуру папок";
        QTest::newRow("no contents") << "Яндекс не вернул содержимое папки";
        QTest::newRow("API error") << "Не удалось найти запрошенный ресурс.";
    }

    void brokenListings()
    {
        QFETCH(QString, message);
        Scan scan;
        scan.disk.addFolder("/loop");
        if (QString(QTest::currentDataTag()) == "cyclic") {
            scan.disk.addRawItem("/loop", item("dir", "again", "/loop"));
        } else if (QString(QTest::currentDataTag()) == "no contents") {
            scan.server.script(
                "/v1/disk/public/resources",
                {FixtureServer::Fault{},
                 FixtureServer::Fault{.status = 200,
                                      .body = "{\"type\":\"dir\",\"name\":\"loop\"}"}});
        } else {
            scan.disk.addRawItem("/loop", item("dir", "gone", "/missing"));
        }
        const auto plans = scan.run();
        QVERIFY(!plans.ok());
        QCOMPARE(plans.error().message, message);
        QVERIFY(QFileInfo(scan.dir.filePath("loop")).isDir());
    }

    void emptyPagesEndTheListing()
    {
        Scan scan;
        scan.server.handle("/v1/disk/public/resources", [](const auto &) {
            FixtureServer::Reply reply;
            reply.body =
                "{\"type\":\"dir\",\"name\":\"s\",\"_embedded\":{\"items\":[],\"total\":900}}";
            return reply;
        });
        const auto plans = scan.run();
        QVERIFY(plans.ok());
        QVERIFY(plans.value().isEmpty());
        QCOMPARE(scan.server.requestCount("/v1/disk/public/resources"), 1);
        QCOMPARE(scan.statuses, QStringList{"Папка пуста"});
    }
};

TOVRIN_TEST(TestFolderScan);
#include "test_folder_scan.moc"
