#include "fake_yandex_disk.h"
#include "support/test_main.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>

// What a run adds over the transfers, the scan and the API (each tested on its own): the phases
// and texts of a run, its history entry, the names of what it creates, the bound on transfers at
// once, and pause, stop and shutdown of a whole run.
namespace {

constexpr int kRunTimeoutMs = 30000;

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

// Entries "dir PATH", "file PATH SIZE", "unsized PATH SIZE" (size not listed), "unlinked PATH
// SIZE" (neither size nor direct link listed), "link FOLDER" (a symbolic link listed there) or
// "root NAME SIZE" (the link names one file). A file of SIZE bytes holds patterned(SIZE, SIZE).
void publish(FakeYandexDisk &disk, const QStringList &tree)
{
    for (const QString &entry : tree) {
        const QString kind = entry.section(' ', 0, 0), rest = entry.section(' ', 1);
        const qint64 size = rest.section(' ', -1).toLongLong();
        const QString name = rest.section(' ', 0, -2);
        if (kind == "dir")
            disk.addFolder(rest);
        else if (kind == "link")
            disk.addRawItem(rest, "symlink", "link", rest + "/link");
        else if (kind == "root")
            disk.setRootFile(name, patterned(size, int(size)));
        else
            disk.addFile(name, patterned(size, int(size)), kind == "file", kind != "unlinked");
    }
}

} // namespace

class TestDownloadManager : public QObject {
    Q_OBJECT

private slots:
    // A local folder "Shared" and someone's "Отчёт_ итоги.pdf.part" exist already, and are never
    // overwritten. Files are fetched one at a time (the setting bounds the run, even when the
    // bodies come slowly), and the body of "/b.bin" meets `faults`; "transfers" counts the
    // requests for file bodies, "asked" those for a file's link. Names with "+&= " show that paths
    // are sent encoded.
    void runsEndWithTheirFilesTextsAndHistory_data()
    {
        QTest::addColumn<QString>("tree"); // entries for publish(), "; " between
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("files"); // "PATH SIZE" after the run, "; " between
        QTest::addColumn<int>("transfers");
        QTest::addColumn<int>("asked");
        QTest::addColumn<QString>("output");  // the run's path in the history, relative
        QTest::addColumn<double>("progress"); // -1: the run fails
        const auto row = [](const char *name, const char *tree, Faults faults, const char *status,
                            const char *files, int transfers, int asked, const char *output,
                            double progress) {
            QTest::newRow(name) << QString(tree) << faults << QString(status) << QString(files)
                                << transfers << asked << QString(output) << progress;
        };
        const char *abc = "file /a.bin 50000; file /b.bin 50000; file /c.bin 50000";
        row("one file, unsafe name", "root Отчёт: итоги.pdf 1500000", {}, "Готово · 1,5 МБ",
            "Отчёт_ итоги (2).pdf 1500000", 1, 1, "Отчёт_ итоги (2).pdf", 1);
        row("tree beside a taken name, sizes not listed",
            "dir /Фото+&= 1; unsized /Фото+&= 1/Photo.JPG 120000; unsized /Фото+&= 1/photo.jpg "
            "80000; dir /фото+&= 1; unlinked /фото+&= 1/a:b 5; link /фото+&= 1; unsized "
            "/notes.txt 299995",
            {}, "Готово · 4 файлов · 500 кБ",
            "Shared (2)/notes.txt 299995; Shared (2)/Фото+&= 1/Photo.JPG 120000; "
            "Shared (2)/Фото+&= 1/photo (2).jpg 80000; Shared (2)/фото+&= 1 (2)/a_b 5",
            4, 1, "Shared (2)", 0);
        // A listed link unknown to the file host is asked anew, once. One failed file ends the
        // run: files done before it stay, nothing of it does.
        const Fault page{.status = 404, .body = "<html>404</html>"};
        row("error page", abc, {page, page},
            "Ошибка: Файл «b.bin» не скачан: сервер ответил HTTP 404", "Shared (2)/a.bin 50000", 3,
            1, "Shared (2)", -1);
        row("listed link unknown, then served", abc, {page}, "Готово · 3 файлов · 150 кБ",
            "Shared (2)/a.bin 50000; Shared (2)/b.bin 50000; Shared (2)/c.bin 50000", 4, 1,
            "Shared (2)", 1);
        const Fault wrong{.status = 200, .body = patterned(50'000, 3)};
        row("wrong bytes twice", abc, {wrong, wrong}, "Ошибка: Файл «b.bin» повреждён при загрузке",
            "Shared (2)/a.bin 50000", 3, 0, "Shared (2)", -1);
    }

    void runsEndWithTheirFilesTextsAndHistory()
    {
        QFETCH(QString, tree);
        QFETCH(Faults, faults);
        QFETCH(QString, status);
        QFETCH(QString, output);
        QFETCH(double, progress);
        DiskScene h;
        QDir(h.dir.path()).mkdir("Shared");
        QFile(h.dir.filePath("Отчёт_ итоги.pdf.part")).open(QIODevice::WriteOnly);
        publish(h.disk, tree.split("; ", Qt::SkipEmptyParts));
        h.files.script(h.disk.bodyPath("/b.bin"), faults);
        h.manager->setConcurrentDownloads(1);
        h.files.setBytesPerSecond(4'000'000);

        QVERIFY(h.runToEnd());
        const bool done = progress >= 0;
        const QString path = h.dir.filePath(output);
        QCOMPARE(h.state().phase, done ? DownloadPhase::Done : DownloadPhase::Failed);
        QCOMPARE(h.state().status, status);
        QStringList files;
        for (const QString &file : filesUnder(h.dir.path())) {
            const QByteArray content = contentsOf(h.dir.filePath(file));
            QCOMPARE(content, patterned(content.size(), int(content.size())));
            files.append(file + ' ' + QString::number(content.size()));
        }
        QVERIFY(files.removeOne("Отчёт_ итоги.pdf.part 0"));
        QTEST(files.join("; "), "files");
        QTEST(int(h.files.requests().size()), "transfers");
        QTEST(h.api.requestCount(kResources + "/download"), "asked");
        QCOMPARE(h.files.maxConcurrentRequests(), 1);
        if (done) {
            QCOMPARE(h.state().detail, path);
            QCOMPARE(h.state().progressValue, progress);
            QCOMPARE(h.state().hasDeterminateProgress, progress > 0);
        }

        const DownloadHistoryItem entry = h.history().value(0);
        QCOMPARE(h.history().size(), 1);
        QCOMPARE(entry.result, done ? DownloadHistoryItem::Result::Completed
                                    : DownloadHistoryItem::Result::Failed);
        QCOMPARE(entry.message, status);
        QCOMPARE(entry.path, path);
    }

    // Pause, resume, stop and shutdown of a run, applied in the scan (while the listing of the
    // shared folder is answered as `listing` says) or, when `listing` is no fault, while one file
    // is done and the other is stuck in flight. Whether the bytes stop and continue by range is
    // the transfers' own test. Finished files stay, the one in flight leaves nothing, a stop is
    // no failure, and however a run ends, the next one goes through.
    void controlsOfARun_data()
    {
        QTest::addColumn<Fault>("listing");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("closing"); // the status at the end; empty: none
        QTest::addColumn<QStringList>("kept");
        const QString stopped = "Остановлено · готовые файлы сохранены";
        const QStringList small{"Shared/a/small.bin"};
        const QStringList all = small + QStringList{"Shared/a/stuck.bin"};
        const QString done = "Готово · 2 файлов · 2 МБ";
        // A page that arrives during a pause: the scan waits at the gate, or the run ends while
        // still paused.
        const Fault late{.delayBeforeHeadersMs = 1000};
        QTest::newRow("stop in the scan") << Fault{.delayBeforeHeadersMs = 30000}
                                          << QStringList{"stop"} << stopped << QStringList();
        QTest::newRow("pause in the scan, resume")
            << late << QStringList{"pause", "resume"} << done << all;
        QTest::newRow("pause in the scan, stop")
            << late << QStringList{"pause", "stop"} << stopped << QStringList();
        QTest::newRow("listing fails in a pause")
            << Fault{.status = 404, .delayBeforeHeadersMs = 1000} << QStringList{"pause"}
            << "Ошибка: Ошибка Яндекса: HTTP 404" << QStringList();
        QTest::newRow("stop in transfers") << Fault() << QStringList{"stop"} << stopped << small;
        QTest::newRow("pause, then stop")
            << Fault() << QStringList{"pause", "stop"} << stopped << small;
        QTest::newRow("pause, resume") << Fault() << QStringList{"pause", "resume"} << done << all;
        QTest::newRow("manager destroyed") << Fault() << QStringList{"destroy"} << "" << small;
    }

    void controlsOfARun()
    {
        QFETCH(Fault, listing);
        QFETCH(QStringList, actions);
        QFETCH(QString, closing);
        DiskScene h;
        h.manager->setConcurrentDownloads(2);
        publish(h.disk, {"dir /a", "file /a/small.bin 1000", "file /a/stuck.bin 2000000"});
        h.api.script(kResources, {Fault(), listing});
        h.manager->start();
        if (listing.delayBeforeHeadersMs > 0) {
            QTRY_COMPARE(h.api.requestCount(kResources), 2);
        } else {
            h.files.script(h.disk.bodyPath("/a/stuck.bin"),
                           {{.stallAfterBytes = 100'000, .stallMs = -1}});
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(h.dir.filePath("Shared/a/stuck.bin.part")).size()
                                         >= 100'000,
                                     kRunTimeoutMs);
            // The refresh counts the bytes of the file in flight too.
            QTRY_COMPARE(h.state().status, QString("Готово файлов: 1 из 2"));
            QTRY_VERIFY(h.state().progressValue >= 101'000 / 2'001'000.0);
            QVERIFY(h.state().detail.contains(" из 2 МБ · "));
        }
        for (const QString &action : actions) {
            if (action == "pause") {
                h.manager->pause();
                h.manager->start(); // ignored while a run is in progress
                QCOMPARE(h.state().status, QString("На паузе"));
                QVERIFY(h.state().detail.endsWith(" · скорость —"));
                QTRY_COMPARE_WITH_TIMEOUT(h.files.activeRequests() + h.api.activeRequests(), 0,
                                          5000);
            } else if (action == "resume") {
                h.manager->resume();
                QCOMPARE(h.state().status, QString("Возобновляется…"));
            } else if (action == "stop") {
                h.manager->stop();
                QCOMPARE(h.state().status, QString("Останавливается…"));
                h.manager->start(); // ignored while stopping
                h.manager->resume();
                QCOMPARE(h.state().phase, DownloadPhase::Stopping);
            } else {
                h.manager.reset();
                QTRY_COMPARE_WITH_TIMEOUT(h.files.activeRequests(), 0, 5000);
                QTEST(filesUnder(h.dir.path()), "kept");
                return;
            }
        }
        QVERIFY(QTest::qWaitFor([&] { return h.state().canStart(); }, kRunTimeoutMs));
        QCOMPARE(h.state().status, closing);
        QCOMPARE(h.history().value(0).path, h.dir.filePath("Shared"));
        QTEST(filesUnder(h.dir.path()), "kept");

        QVERIFY(h.runToEnd());
        QCOMPARE(h.state().phase, DownloadPhase::Done);
        QCOMPARE(contentsOf(h.dir.filePath("Shared (2)/a/stuck.bin")),
                 patterned(2'000'000, 2'000'000));
    }

    // A run that failed after its first file is continued into its folder: the names are those
    // of the first run, a file in place that matches the listing is kept, and one that differs
    // (in size, or in content only) stays as it is while the listed file takes the next free
    // name. Only runs that chose their folder can be continued, and the stored link of a
    // record leaves with it.
    void continuedRunKeepsWhatMatchesAndNeverReplaces()
    {
        DiskScene h(QStringLiteral("https://disk.yandex.ru/d/Other"));
        QVERIFY(h.runToEnd()); // the first look fails: nothing chosen, nothing to continue
        QVERIFY(!h.manager->canContinue(h.history().value(0)));
        publish(h.disk, {"file /a.bin 50000", "file /b.bin 50001", "file /c.bin 50002",
                         "file /d.bin 50003", "file /e.bin 50004", "file /E.bin 50005"});
        h.manager->setPublicLink(FakeYandexDisk::kPublicLink);
        h.manager->setConcurrentDownloads(1);
        h.files.script(h.disk.bodyPath("/b.bin"), Faults(2, {.status = 404}));
        QVERIFY(h.runToEnd());
        const DownloadHistoryItem failed = h.history().value(0);
        QCOMPARE(failed.path, h.dir.filePath("Shared"));
        QVERIFY(h.manager->canContinue(failed));
        const auto write = [&](const QString &name, const QByteArray &content) {
            QFile file(h.dir.filePath("Shared/" + name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        };
        write("c.bin", "short");
        write("d.bin", patterned(50003, 9));
        write("e (2).bin", "taken");

        h.manager->setPublicLink(QString());
        h.manager->continueRun(failed);
        QVERIFY(QTest::qWaitFor([&] { return h.state().canStart(); }, kRunTimeoutMs));
        QCOMPARE(h.state().status, QString("Готово · 6 файлов · 300 кБ"));
        QStringList files;
        for (const QString &file : filesUnder(h.dir.path()))
            files.append(file + ' ' + QString::number(QFileInfo(h.dir.filePath(file)).size()));
        QCOMPARE(
            files,
            QStringList({"Shared/E.bin 50005", "Shared/a.bin 50000", "Shared/b.bin 50001",
                         "Shared/c (2).bin 50002", "Shared/c.bin 5", "Shared/d (2).bin 50003",
                         "Shared/d.bin 50003", "Shared/e (2).bin 5", "Shared/e (3).bin 50004"}));
        QCOMPARE(h.files.requestCount(h.disk.bodyPath("/a.bin")), 1); // kept
        QCOMPARE(contentsOf(h.dir.filePath("Shared/d.bin")), patterned(50003, 9));
        QCOMPARE(h.history().size(), 3);
        QCOMPARE(h.history().value(1), failed);
        QVERIFY(!h.manager->canContinue(h.history().value(0))); // completed

        const QString links = "yandexRunLinks.v1";
        QVERIFY(h.prefs.value(links)->toByteArray().contains(FakeYandexDisk::kPublicLink.toUtf8()));
        h.create(); // the link survives a relaunch
        QVERIFY(h.manager->canContinue(failed));
        h.manager->history().remove(failed);
        QVERIFY(!h.prefs.contains(links));
    }

    // A folder of more than a page: the files of the first page download while the second is
    // still being listed, and the status shows the scan until the folder is counted. A listing
    // that then fails ends the run with its error; a file in flight leaves nothing.
    void filesDownloadWhileTheFolderIsListed_data()
    {
        QTest::addColumn<int>("secondPage"); // its HTTP status
        QTest::addColumn<QString>("status");
        QTest::newRow("listed") << 200 << "Готово · 250 файлов · 250 кБ";
        QTest::newRow("listing fails") << 404 << "Ошибка: Ошибка Яндекса: HTTP 404";
    }

    void filesDownloadWhileTheFolderIsListed()
    {
        QFETCH(int, secondPage);
        DiskScene h;
        QStringList tree;
        for (int i = 0; i < 250; ++i)
            tree.append(QString("file /f%1.bin 1000").arg(i, 3, 10, QChar('0')));
        publish(h.disk, tree);
        const Fault late{.status = secondPage == 200 ? 0 : secondPage,
                         .delayBeforeHeadersMs = 5000};
        h.api.script(kResources, {Fault(), late});
        if (secondPage != 200)
            h.files.script(h.disk.bodyPath("/f150.bin"), {{.stallAfterBytes = 500, .stallMs = -1}});
        h.manager->start();

        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(h.dir.filePath("Shared/f100.bin")), 4000);
        QTRY_VERIFY(h.state().detail.startsWith("Скачано: "));
        QCOMPARE(h.api.requestCount(kResources), 2); // the first look and the page in wait
        QCOMPARE(h.state().status, QString("Сканируется папка: найдено 200 файлов…"));
        QVERIFY(!h.state().detail.contains(" из "));
        QVERIFY(!h.state().hasDeterminateProgress);
        if (secondPage != 200) // the file stuck in flight when the listing fails
            QTRY_VERIFY(QFileInfo::exists(h.dir.filePath("Shared/f150.bin.part")));

        QVERIFY(QTest::qWaitFor([&] { return h.state().canStart(); }, kRunTimeoutMs));
        QTEST(h.state().status, "status");
        const QStringList files = filesUnder(h.dir.filePath("Shared"));
        QVERIFY(files.contains("f100.bin"));
        QCOMPARE(files.contains("f249.bin"), secondPage == 200);
        QCOMPARE(files.filter(".part").size(), 0);
    }

    // A network that goes down (names stop resolving: the answers send the client on to a host
    // that has none) is waited out, for the listing and for a file in flight, which continues by
    // range. Stop and pause work during the wait; an outage longer than the limit fails the run.
    void networkOutagesAreWaitedOut_data()
    {
        QTest::addColumn<QString>("down"); // the listing, or the file after 500 kB
        QTest::addColumn<QString>("action");
        QTest::addColumn<double>("limit");
        QTest::addColumn<QString>("status");
        const QString done = "Готово · 1 файлов · 2 МБ";
        QTest::newRow("listing") << "listing"
                                 << "" << 600.0 << done;
        QTest::newRow("file") << "file"
                              << "" << 600.0 << done;
        QTest::newRow("file, pause and resume") << "file"
                                                << "pause" << 600.0 << done;
        QTest::newRow("file, stop") << "file"
                                    << "stop" << 600.0 << "Остановлено · готовые файлы сохранены";
        QTest::newRow("listing, longer than the limit")
            << "listing"
            << "" << 1.0 << "Ошибка: Не удалось найти сервер с указанным именем";
    }

    void networkOutagesAreWaitedOut()
    {
        QFETCH(QString, down);
        QFETCH(QString, action);
        DiskScene h;
        QFETCH(double, limit);
        h.networkWaitSeconds = limit;
        h.create();
        publish(h.disk, {"file /big.bin 2000000"});
        const Faults away(30, {.status = 302, .location = "http://offline.invalid/"});
        if (down == "listing")
            h.api.script(kResources, away);
        else
            h.files.script(h.disk.bodyPath("/big.bin"), Faults{{.dropAfterBytes = 500'000}} + away);
        h.manager->start();
        QTRY_COMPARE(h.state().detail, QString("Нет подключения к интернету — жду…"));
        if (action == "pause") {
            h.manager->pause();
            QCOMPARE(h.state().detail, QString("Нет подключения к интернету — жду…"));
            h.manager->resume();
        } else if (action == "stop") {
            h.manager->stop();
        }
        QVERIFY(QTest::qWaitFor([&] { return h.state().canStart(); }, kRunTimeoutMs));
        QTEST(h.state().status, "status");
        if (h.state().phase == DownloadPhase::Done && down == "file") {
            QCOMPARE(h.files.requests().last().header("Range"), QByteArray("bytes=500000-"));
            QCOMPARE(contentsOf(h.dir.filePath("Shared/big.bin")), patterned(2'000'000, 2'000'000));
        }
    }
};

TOVRIN_TEST(TestDownloadManager);
#include "test_download_manager.moc"
