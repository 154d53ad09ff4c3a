#include "app/platform/curl_http_client.h"
#include "app/platform/locations.h"
#include "app/platform/preference_keys.h"
#include "fake_yandex_disk.h"
#include "recording_sleep.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/fake_locations.h"
#include "support/fake_preferences.h"
#include "support/test_main.h"
#include "yandex/download_manager.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kRunTimeoutMs = 30000;

QByteArray patterned(qsizetype size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed * 101 + i / 509) & 0xff);
    return bytes;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below `folder`, relative, sorted.
QStringList filesUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// A manager wired to a fake Yandex Disk (API and file bodies on two loopback servers, so
// the file server sees only file transfers) and a temporary downloads folder.
struct Harness {
    QTemporaryDir dir;
    FixtureServer api;
    FixtureServer files;
    FakeYandexDisk disk{api, files};
    CurlHttpClient http;
    FakePreferences prefs;
    FakeClock clock;
    FakeLocations locations{dir.path()};
    FakeDesktopServices desktop;
    RecordingSleep sleep;
    std::unique_ptr<DownloadManager> manager;

    Harness() { create(); }

    void create()
    {
        manager.reset();
        DownloadManagerOptions options;
        options.apiBaseUrl = api.baseUrl();
        options.sleep = sleep.function();
        manager = std::make_unique<DownloadManager>(
            DownloadManager::Services{http, prefs, clock, locations, desktop}, options);
        manager->setPublicLink(FakeYandexDisk::kPublicLink);
    }

    bool runToEnd()
    {
        manager->start();
        return QTest::qWaitFor([this] { return manager->canStart(); }, kRunTimeoutMs);
    }
};

} // namespace

class TestDownloadManager : public QObject {
    Q_OBJECT

private slots:
    void singleFileEndToEnd()
    {
        Harness h;
        const QByteArray body = patterned(1'500'000, 1);
        h.disk.setRootFile("Отчёт: итоги.pdf", body);
        QSignalSpy phases(h.manager.get(), &DownloadManager::phaseChanged);
        QCOMPARE(h.manager->status(), QString("Готов к загрузке"));
        QCOMPARE(h.manager->phase(), DownloadPhase::Idle);

        QVERIFY(h.runToEnd());
        const QString path = h.dir.filePath("Отчёт_ итоги.pdf");
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        QCOMPARE(h.manager->status(), QString("Готово · 1,5 МБ"));
        QCOMPARE(h.manager->detail(), path);
        QCOMPARE(h.manager->progressValue(), 1.0);
        QVERIFY(h.manager->hasDeterminateProgress());
        QCOMPARE(readAll(path), body);
        QCOMPARE(filesUnder(h.dir.path()), QStringList{"Отчёт_ итоги.pdf"});
        QCOMPARE(phases.count(), 2); // running, done

        QCOMPARE(h.manager->history().size(), 1);
        const DownloadHistoryItem entry = h.manager->history().first();
        QCOMPARE(entry.name, QString("Отчёт_ итоги.pdf"));
        QCOMPARE(entry.path, path);
        QCOMPARE(entry.result, DownloadHistoryItem::Result::Completed);
        QCOMPARE(entry.message, QString("Готово · 1,5 МБ"));
        QCOMPARE(entry.date, h.clock.wall);
        QVERIFY(h.prefs.contains(QString(PreferenceKeys::kYandexHistory)));

        // A relaunch reads the same history.
        h.create();
        QCOMPARE(h.manager->history().size(), 1);
        QCOMPARE(h.manager->history().first(), entry);
    }

    void singleFileAvoidsTakenNamesAndPartCompanions()
    {
        Harness h;
        h.disk.setRootFile("Report.pdf", "pdf");
        QFile(h.dir.filePath("Report.pdf.part")).open(QIODevice::WriteOnly);
        QVERIFY(h.runToEnd());
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        QCOMPARE(readAll(h.dir.filePath("Report (2).pdf")), QByteArray("pdf"));
        QCOMPARE(readAll(h.dir.filePath("Report.pdf.part")), QByteArray());
    }

    void folderTreeEndToEnd()
    {
        Harness h;
        QDir(h.dir.path()).mkdir("Shared");
        h.disk.addFolder("/Photos");
        h.disk.addFile("/Photos/Photo.JPG", patterned(120'000, 2));
        h.disk.addFile("/Photos/photo.jpg", patterned(80'000, 3));
        h.disk.addFolder("/Photos/2020");
        h.disk.addFile("/Photos/2020/a\u0001b.txt", patterned(5, 4));
        h.disk.addFile("/notes.txt", patterned(300'000, 5));
        h.manager->setConcurrentDownloads(3);

        QVERIFY(h.runToEnd());
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        const QString root = h.dir.filePath("Shared (2)");
        QCOMPARE(h.manager->detail(), root);
        QCOMPARE(filesUnder(root), (QStringList{"Photos/2020/a_b.txt", "Photos/Photo.JPG",
                                                "Photos/photo (2).jpg", "notes.txt"}));
        QCOMPARE(readAll(root + "/Photos/photo (2).jpg"), patterned(80'000, 3));
        QCOMPARE(readAll(root + "/notes.txt"), patterned(300'000, 5));
        QCOMPARE(h.manager->status(), QString("Готово · 4 файлов · 500 кБ"));
        QCOMPARE(h.manager->progressValue(), 1.0);
        QCOMPARE(h.manager->history().first().name, QString("Shared (2)"));
        QCOMPARE(h.manager->history().first().path, root);
    }

    void emptyFolderAndFilesWithoutSizes()
    {
        Harness h;
        QVERIFY(h.runToEnd());
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        QCOMPARE(h.manager->status(), QString("Готово · 0 файлов · 0 кБ"));
        QVERIFY(!h.manager->hasDeterminateProgress());
        QVERIFY(QFileInfo(h.dir.filePath("Shared")).isDir());

        Harness unsized;
        unsized.disk.addFile("/a.bin", patterned(1000, 1), false);
        unsized.disk.addFile("/b.bin", patterned(2000, 2), false);
        QVERIFY(unsized.runToEnd());
        QCOMPARE(unsized.manager->phase(), DownloadPhase::Done);
        QVERIFY(!unsized.manager->hasDeterminateProgress());
        QCOMPARE(unsized.manager->progressValue(), 0.0);
        QVERIFY(unsized.manager->detail().endsWith("Shared"));
        QCOMPARE(unsized.manager->status(), QString("Готово · 2 файлов · 3 кБ"));
    }

    void rejectedStartsLeaveNoHistory_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("destinationExists");
        QTest::addColumn<QString>("status");
        QTest::newRow("bad link") << "https://example.com/d/x" << true
                                  << "Нужна публичная ссылка Яндекс Диска";
        QTest::newRow("missing destination")
            << FakeYandexDisk::kPublicLink << false << "Нет доступа на запись в выбранную папку";
    }

    void rejectedStartsLeaveNoHistory()
    {
        QFETCH(QString, link);
        QFETCH(bool, destinationExists);
        QFETCH(QString, status);
        Harness h;
        h.manager->setPublicLink(link);
        if (!destinationExists) {
            h.desktop.chosen = h.dir.filePath("gone");
            h.manager->chooseDestination();
            QCOMPARE(h.manager->destinationURL(), h.dir.filePath("gone"));
        }
        h.manager->start();
        QCOMPARE(h.manager->phase(), DownloadPhase::Failed);
        QCOMPARE(h.manager->status(), status);
        QVERIFY(h.manager->history().isEmpty());
        QCOMPARE(h.api.totalRequests(), 0);
    }

    void failuresEndTheRun_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("status");
        QTest::newRow("unknown type") << "type"
                                      << "Ошибка: Яндекс вернул неизвестный тип ресурса";
        QTest::newRow("error page") << "404"
                                    << "Ошибка: Файл «b.bin» не скачан: сервер ответил HTTP 404";
        QTest::newRow("lost three times") << "drop"
                                          << "Ошибка: Сетевое соединение было потеряно";
        QTest::newRow("short body") << "short"
                                    << "Ошибка: Сетевое соединение было потеряно";
    }

    void failuresEndTheRun()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, status);
        Harness h;
        h.manager->setConcurrentDownloads(1);
        h.disk.addFile("/a.bin", patterned(50'000, 1));
        h.disk.addFile("/b.bin", patterned(60'000, 2));
        h.disk.addFile("/c.bin", patterned(70'000, 3));
        const QString b = h.disk.bodyPath("/b.bin");
        if (scenario == "type")
            h.disk.setRootType("album", "Альбом");
        else if (scenario == "404")
            h.files.script(b, {FixtureServer::Fault{.status = 404, .body = "<html>404</html>"}});
        else if (scenario == "drop")
            h.files.script(
                b, QList<FixtureServer::Fault>(3, FixtureServer::Fault{.dropAfterBytes = 1000}));
        else // no length announced: only the listed size tells that the body is short
            h.files.script(
                b, QList<FixtureServer::Fault>(
                       3, FixtureServer::Fault{.dropAfterBytes = 1000, .omitContentLength = true}));

        QVERIFY(h.runToEnd());
        QCOMPARE(h.manager->phase(), DownloadPhase::Failed);
        QCOMPARE(h.manager->status(), status);
        QCOMPARE(h.manager->history().first().result, DownloadHistoryItem::Result::Failed);
        QCOMPARE(h.manager->history().first().message, status);
        if (scenario != "type") {
            // The file finished before the failure stays; nothing of the failed one does.
            QCOMPARE(filesUnder(h.dir.path()), QStringList{"Shared/a.bin"});
            QCOMPARE(h.files.requestCount(h.disk.bodyPath("/c.bin")), 0);
        }
    }

    void retriedTransferContinues()
    {
        Harness h;
        h.disk.setRootFile("big.bin", patterned(2'000'000, 9));
        h.files.script(h.disk.bodyPath(QString()),
                       {FixtureServer::Fault{.dropAfterBytes = 700'000}});
        QVERIFY(h.runToEnd());
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        QCOMPARE(readAll(h.dir.filePath("big.bin")), patterned(2'000'000, 9));
        QCOMPARE(h.sleep.delays(), QList<double>{1});
    }

    void concurrencyIsBoundedAndKeptFull_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("fileCount");
        QTest::newRow("3 of 10") << 3 << 10;
        QTest::newRow("8 of 12") << 8 << 12;
    }

    void concurrencyIsBoundedAndKeptFull()
    {
        QFETCH(int, limit);
        QFETCH(int, fileCount);
        Harness h;
        h.files.setBytesPerSecond(500'000);
        for (int i = 0; i < fileCount; ++i)
            h.disk.addFile(QStringLiteral("/f%1.bin").arg(i), patterned(150'000, i));
        h.manager->setConcurrentDownloads(limit);
        QVERIFY(h.runToEnd());
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        QCOMPARE(h.files.maxConcurrentRequests(), limit);
        QCOMPARE(filesUnder(h.dir.filePath("Shared")).size(), fileCount);
    }

    void pauseHoldsEveryByteAndResumeContinues()
    {
        Harness h;
        h.files.setBytesPerSecond(1'000'000);
        h.disk.addFile("/a.bin", patterned(2'500'000, 1));
        h.disk.addFile("/b.bin", patterned(2'500'000, 2));
        h.manager->start();
        // The refresher turns to progress texts once bytes flow.
        QTRY_COMPARE_WITH_TIMEOUT(h.manager->status(), QString("Готово файлов: 0 из 2"),
                                  kRunTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(h.manager->detail().startsWith("Скачано: "), kRunTimeoutMs);
        QVERIFY(h.manager->detail().contains(" из 5 МБ · "));
        QTRY_VERIFY_WITH_TIMEOUT(h.files.totalBytesSent() > 400'000, kRunTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(h.manager->progressValue() > 0.0, kRunTimeoutMs);
        h.manager->pause();
        QCOMPARE(h.manager->phase(), DownloadPhase::Paused);
        QCOMPARE(h.manager->status(), QString("На паузе"));
        QVERIFY(h.manager->detail().endsWith(" · скорость —"));
        QVERIFY(h.manager->isControllable());
        QTRY_COMPARE_WITH_TIMEOUT(h.files.activeRequests(), 0, 5000);
        const qint64 sent = h.files.totalBytesSent();
        const int requests = h.files.totalRequests();
        QTest::qWait(1200); // a few refreshes
        QCOMPARE(h.files.totalBytesSent(), sent);
        QCOMPARE(h.files.totalRequests(), requests);
        QCOMPARE(h.manager->status(), QString("На паузе"));
        h.manager->start(); // ignored while a run is in progress
        QCOMPARE(h.manager->phase(), DownloadPhase::Paused);

        h.manager->resume();
        QCOMPARE(h.manager->status(), QString("Возобновляется…"));
        QVERIFY(QTest::qWaitFor([&] { return h.manager->canStart(); }, kRunTimeoutMs));
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        QCOMPARE(readAll(h.dir.filePath("Shared/a.bin")), patterned(2'500'000, 1));
        QCOMPARE(readAll(h.dir.filePath("Shared/b.bin")), patterned(2'500'000, 2));
        // Resumed by range, not from the start.
        QVERIFY(h.files.totalBytesSent() < 5'000'000 + 1'000'000);
        for (const auto &request : h.files.requests().mid(requests))
            QVERIFY(request.header("Range").startsWith("bytes="));
    }

    void stopDuringTransfersKeepsFinishedFiles()
    {
        Harness h;
        h.manager->setConcurrentDownloads(2);
        h.disk.addFile("/small.bin", patterned(1000, 1));
        h.disk.addFile("/stuck.bin", patterned(2'000'000, 2));
        h.files.script(h.disk.bodyPath("/stuck.bin"),
                       {FixtureServer::Fault{.stallAfterBytes = 100'000, .stallMs = -1}});
        h.manager->start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(h.dir.filePath("Shared/small.bin")),
                                 kRunTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo(h.dir.filePath("Shared/stuck.bin.part")).size() >= 100'000, kRunTimeoutMs);
        h.manager->stop();
        QCOMPARE(h.manager->phase(), DownloadPhase::Stopping);
        QCOMPARE(h.manager->status(), QString("Останавливается…"));
        h.manager->start(); // ignored while stopping
        h.manager->pause();
        QCOMPARE(h.manager->phase(), DownloadPhase::Stopping);
        QTRY_COMPARE_WITH_TIMEOUT(h.manager->phase(), DownloadPhase::Canceled, 5000);
        QCOMPARE(h.manager->status(), QString("Остановлено · готовые файлы сохранены"));
        QCOMPARE(filesUnder(h.dir.path()), QStringList{"Shared/small.bin"});
        QCOMPARE(h.manager->history().first().result, DownloadHistoryItem::Result::Canceled);
        QCOMPARE(h.manager->history().first().message,
                 QString("Остановлено · готовые файлы сохранены"));
    }

    void destroyingTheManagerEndsItsRun()
    {
        Harness h;
        h.files.setBytesPerSecond(300'000);
        h.disk.setRootFile("big.bin", patterned(3'000'000, 1));
        h.manager->start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(h.dir.filePath("big.bin.part")).size() > 0,
                                 kRunTimeoutMs);
        h.manager.reset();
        QVERIFY(!QFileInfo::exists(h.dir.filePath("big.bin.part")));
        QVERIFY(!QFileInfo::exists(h.dir.filePath("big.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(h.files.activeRequests(), 0, 5000);
    }

    void stopDuringScanKeepsFolders()
    {
        Harness h;
        h.disk.addFolder("/a");
        h.disk.addFile("/a/x.bin", "x");
        h.api.script("/v1/disk/public/resources",
                     {FixtureServer::Fault{}, FixtureServer::Fault{},
                      FixtureServer::Fault{.delayBeforeHeadersMs = 30000}});
        h.manager->start();
        QVERIFY(h.api.waitForRequests("/v1/disk/public/resources", 3));
        QTRY_COMPARE(h.manager->status(), QString("Сканируется содержимое папки…"));
        h.manager->stop();
        QTRY_COMPARE_WITH_TIMEOUT(h.manager->phase(), DownloadPhase::Canceled, 5000);
        QVERIFY(QFileInfo(h.dir.filePath("Shared/a")).isDir());
        QCOMPARE(h.manager->history().first().result, DownloadHistoryItem::Result::Canceled);
        QCOMPARE(h.manager->history().first().path, h.dir.filePath("Shared"));
        QCOMPARE(h.files.totalRequests(), 0);
    }

    void concurrencyPreference()
    {
        Harness h;
        QCOMPARE(h.manager->concurrentDownloads(), 4);
        for (const auto &[stored, read] : {std::pair{0, 4}, {12, 4}, {8, 8}, {1, 1}}) {
            h.prefs.setValue(QString(PreferenceKeys::kConcurrentDownloads), stored);
            h.create();
            QCOMPARE(h.manager->concurrentDownloads(), read);
        }
        for (const auto &[set, stored] : {std::pair{12, 8}, {0, 1}, {5, 5}}) {
            h.manager->setConcurrentDownloads(set);
            QCOMPARE(h.prefs.value(QString(PreferenceKeys::kConcurrentDownloads))->toInt(), stored);
            QCOMPARE(h.manager->concurrentDownloads(), stored);
        }
    }

    void historyOperations()
    {
        Harness h;
        h.disk.setRootFile("one.txt", "1");
        QVERIFY(h.runToEnd());
        QVERIFY(h.runToEnd());
        QCOMPARE(h.manager->history().size(), 2);
        QCOMPARE(h.manager->history().first().name, QString("one (2).txt"));

        h.manager->revealInFinder(h.manager->history().first());
        QCOMPARE(h.desktop.selected, QStringList{h.dir.filePath("one (2).txt")});
        h.manager->openDestination();
        QCOMPARE(h.desktop.opened, QStringList{h.dir.path()});

        h.manager->removeHistoryItem(h.manager->history().first());
        QCOMPARE(h.manager->history().size(), 1);
        QCOMPARE(h.manager->history().first().name, QString("one.txt"));
        h.manager->clearHistory();
        QVERIFY(h.manager->history().isEmpty());
        QVERIFY(!h.prefs.contains(QString(PreferenceKeys::kYandexHistory)));
    }
};

TOVRIN_TEST(TestDownloadManager);
#include "test_download_manager.moc"
