#include "app/platform/preference_keys.h"
#include "fake_yandex_disk.h"
#include "support/test_main.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr int kRunTimeoutMs = 30000;
using Fault = FixtureServer::Fault;

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

} // namespace

class TestDownloadManager : public QObject {
    Q_OBJECT

private slots:
    void singleFileEndToEnd()
    {
        DiskScene h;
        const QByteArray body = patterned(1'500'000, 1);
        h.disk.setRootFile("Отчёт: итоги.pdf", body);
        QSignalSpy phases(h.manager.get(), &DownloadManager::phaseChanged);
        QCOMPARE(h.manager->status(), QString("Готов к загрузке"));

        QVERIFY(h.runToEnd());
        const QString path = h.dir.filePath("Отчёт_ итоги.pdf");
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        QCOMPARE(h.manager->status(), QString("Готово · 1,5 МБ"));
        QCOMPARE(h.manager->detail(), path);
        QCOMPARE(h.manager->progressValue(), 1.0);
        QCOMPARE(contentsOf(path), body);
        QCOMPARE(filesUnder(h.dir.path()), QStringList{"Отчёт_ итоги.pdf"});
        QCOMPARE(phases.count(), 2); // running, done

        const DownloadHistoryItem entry = h.manager->history().value(0);
        QCOMPARE(h.manager->history().size(), 1);
        QCOMPARE(entry.path, path);
        QCOMPARE(entry.result, DownloadHistoryItem::Result::Completed);
        QCOMPARE(entry.message, QString("Готово · 1,5 МБ"));
        QCOMPARE(entry.date, h.clock.wall);
        h.create(); // a relaunch reads the same history
        QCOMPARE(h.manager->history(), QList<DownloadHistoryItem>{entry});
    }

    void folderTreeEndToEnd()
    {
        DiskScene h;
        QDir(h.dir.path()).mkdir("Shared");
        h.disk.addFolder("/Photos");
        h.disk.addFile("/Photos/Photo.JPG", patterned(120'000, 2));
        h.disk.addFile("/Photos/photo.jpg", patterned(80'000, 3));
        h.disk.addFolder("/Photos/2020");
        h.disk.addFile("/Photos/2020/a\u0001b.txt", patterned(5, 4));
        h.disk.addFile("/notes.txt", patterned(300'000, 5));
        h.manager->setConcurrentDownloads(3);

        QVERIFY(h.runToEnd());
        const QString root = h.dir.filePath("Shared (2)");
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        QCOMPARE(h.manager->detail(), root);
        QCOMPARE(filesUnder(root), (QStringList{"Photos/2020/a_b.txt", "Photos/Photo.JPG",
                                                "Photos/photo (2).jpg", "notes.txt"}));
        QCOMPARE(contentsOf(root + "/Photos/photo (2).jpg"), patterned(80'000, 3));
        QCOMPARE(contentsOf(root + "/notes.txt"), patterned(300'000, 5));
        QCOMPARE(h.manager->status(), QString("Готово · 4 файлов · 500 кБ"));
        QCOMPARE(h.manager->history().first().path, root);
    }

    void foldersWithoutSizesEndWithoutAProgressBar_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<QString>("status");
        QTest::newRow("empty folder") << 0 << "Готово · 0 файлов · 0 кБ";
        QTest::newRow("files listed without sizes") << 2 << "Готово · 2 файлов · 3 кБ";
    }

    void foldersWithoutSizesEndWithoutAProgressBar()
    {
        QFETCH(int, files);
        DiskScene h;
        for (int i = 1; i <= files; ++i)
            h.disk.addFile(QStringLiteral("/%1.bin").arg(i), patterned(1000 * i, i), false);
        QVERIFY(h.runToEnd());
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        QTEST(h.manager->status(), "status");
        QVERIFY(!h.manager->hasDeterminateProgress());
        QCOMPARE(h.manager->progressValue(), 0.0);
        QCOMPARE(filesUnder(h.dir.filePath("Shared")).size(), files);
        QVERIFY(QFileInfo(h.dir.filePath("Shared")).isDir());
    }

    void rejectedStartsLeaveNoHistory_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("status");
        QTest::newRow("bad link") << "https://example.com/d/x"
                                  << ""
                                  << "Нужна публичная ссылка Яндекс Диска";
        QTest::newRow("missing destination") << FakeYandexDisk::kPublicLink << "gone"
                                             << "Нет доступа на запись в выбранную папку";
    }

    void rejectedStartsLeaveNoHistory()
    {
        QFETCH(QString, link);
        QFETCH(QString, destination);
        DiskScene h(link);
        if (!destination.isEmpty()) {
            h.desktop.chosen = h.dir.filePath(destination);
            h.manager->chooseDestination();
            QCOMPARE(h.manager->destinationURL(), h.dir.filePath(destination));
        }
        h.manager->start();
        QCOMPARE(h.manager->phase(), DownloadPhase::Failed);
        QTEST(h.manager->status(), "status");
        QVERIFY(h.manager->history().isEmpty());
        QCOMPARE(h.api.totalRequests(), 0);
    }

    void failuresEndTheRun_data()
    {
        QTest::addColumn<QList<Fault>>("faults"); // for b.bin's body
        QTest::addColumn<QString>("status");
        QTest::newRow("unknown type")
            << QList<Fault>() << "Ошибка: Яндекс вернул неизвестный тип ресурса";
        QTest::newRow("error page") << QList<Fault>{{.status = 404, .body = "<html>404</html>"}}
                                    << "Ошибка: Файл «b.bin» не скачан: сервер ответил HTTP 404";
        QTest::newRow("lost three times") << QList<Fault>(3, {.dropAfterBytes = 1000})
                                          << "Ошибка: Сетевое соединение было потеряно";
        // No length announced: only the listed size tells that the body is short.
        QTest::newRow("short body")
            << QList<Fault>(3, {.dropAfterBytes = 1000, .omitContentLength = true})
            << "Ошибка: Сетевое соединение было потеряно";
    }

    void failuresEndTheRun()
    {
        QFETCH(QList<Fault>, faults);
        QFETCH(QString, status);
        DiskScene h;
        h.manager->setConcurrentDownloads(1);
        for (int i = 0; i < 3; ++i)
            h.disk.addFile(QStringLiteral("/%1.bin").arg(QChar('a' + i)), patterned(50'000, i));
        if (faults.isEmpty())
            h.disk.setRootType("album", "Альбом");
        h.files.script(h.disk.bodyPath("/b.bin"), faults);

        QVERIFY(h.runToEnd());
        QCOMPARE(h.manager->phase(), DownloadPhase::Failed);
        QCOMPARE(h.manager->status(), status);
        QCOMPARE(h.manager->history().first().result, DownloadHistoryItem::Result::Failed);
        QCOMPARE(h.manager->history().first().message, status);
        // The file finished before the failure stays; nothing of the failed one does.
        QCOMPARE(filesUnder(h.dir.path()),
                 faults.isEmpty() ? QStringList() : QStringList{"Shared/a.bin"});
        QCOMPARE(h.files.requestCount(h.disk.bodyPath("/c.bin")), 0);
    }

    void retriedTransferContinues()
    {
        DiskScene h;
        h.disk.setRootFile("big.bin", patterned(2'000'000, 9));
        h.files.script(h.disk.bodyPath(QString()), {{.dropAfterBytes = 700'000}});
        QVERIFY(h.runToEnd());
        QCOMPARE(h.manager->phase(), DownloadPhase::Done);
        QCOMPARE(contentsOf(h.dir.filePath("big.bin")), patterned(2'000'000, 9));
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
        DiskScene h;
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
        DiskScene h;
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
        QCOMPARE(contentsOf(h.dir.filePath("Shared/a.bin")), patterned(2'500'000, 1));
        QCOMPARE(contentsOf(h.dir.filePath("Shared/b.bin")), patterned(2'500'000, 2));
        // Resumed by range, not from the start.
        QVERIFY(h.files.totalBytesSent() < 5'000'000 + 1'000'000);
        for (const auto &request : h.files.requests().mid(requests))
            QVERIFY(request.header("Range").startsWith("bytes="));
    }

    void stopDuringTransfersKeepsFinishedFiles()
    {
        DiskScene h;
        h.manager->setConcurrentDownloads(2);
        h.disk.addFile("/small.bin", patterned(1000, 1));
        h.disk.addFile("/stuck.bin", patterned(2'000'000, 2));
        h.files.script(h.disk.bodyPath("/stuck.bin"),
                       {{.stallAfterBytes = 100'000, .stallMs = -1}});
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
        QCOMPARE(h.manager->history().first().message, h.manager->status());
    }

    void destroyingTheManagerEndsItsRun()
    {
        DiskScene h;
        h.files.setBytesPerSecond(300'000);
        h.disk.setRootFile("big.bin", patterned(3'000'000, 1));
        h.manager->start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(h.dir.filePath("big.bin.part")).size() > 0,
                                 kRunTimeoutMs);
        h.manager.reset();
        QCOMPARE(filesUnder(h.dir.path()), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(h.files.activeRequests(), 0, 5000);
    }

    void stopDuringScanKeepsFolders()
    {
        DiskScene h;
        h.disk.addFolder("/a");
        h.disk.addFile("/a/x.bin", "x");
        h.api.script("/v1/disk/public/resources", {{}, {}, {.delayBeforeHeadersMs = 30000}});
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

    void concurrencyPreferenceStaysWithinOneToEight()
    {
        DiskScene h;
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

    void repeatedRunsNeverOverwriteAndHistoryActsOnFiles()
    {
        DiskScene h;
        h.disk.setRootFile("one.txt", "1");
        QFile(h.dir.filePath("one.txt.part")).open(QIODevice::WriteOnly); // someone else's
        QVERIFY(h.runToEnd());
        QVERIFY(h.runToEnd());
        QCOMPARE(filesUnder(h.dir.path()),
                 (QStringList{"one (2).txt", "one (3).txt", "one.txt.part"}));
        QCOMPARE(contentsOf(h.dir.filePath("one (3).txt")), QByteArray("1"));
        QCOMPARE(QFileInfo(h.dir.filePath("one.txt.part")).size(), 0);
        QCOMPARE(h.manager->history().first().name, QString("one (3).txt"));

        h.manager->revealInFinder(h.manager->history().first());
        QCOMPARE(h.desktop.selected, QStringList{h.dir.filePath("one (3).txt")});
        h.manager->openDestination();
        QCOMPARE(h.desktop.opened, QStringList{h.dir.path()});
        h.manager->removeHistoryItem(h.manager->history().first());
        QCOMPARE(h.manager->history().size(), 1);
        QCOMPARE(h.manager->history().first().name, QString("one (2).txt"));
        h.manager->clearHistory();
        QVERIFY(h.manager->history().isEmpty());
        QVERIFY(!h.prefs.contains(QString(PreferenceKeys::kYandexHistory)));
    }
};

TOVRIN_TEST(TestDownloadManager);
#include "test_download_manager.moc"
