#include "engine/engine_preparation.h"
#include "install_scene.h"
#include "support/fake_clock.h"
#include "support/test_main.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

class TestEnginePreparation : public QObject {
    Q_OBJECT

private:
    struct Prepared {
        InstallScene scene;
        FakeClock clock;
        std::unique_ptr<EnginePreparation> preparation;
        QList<double> progress;
        QList<bool> answers;

        explicit Prepared(const QStringList &systemEngines = {})
        {
            clock.wall = QDateTime::currentDateTimeUtc();
            preparation = std::make_unique<EnginePreparation>(scene.installer(), scene.prefs, clock,
                                                              systemEngines);
            QObject::connect(preparation.get(), &EnginePreparation::installProgressChanged,
                             preparation.get(), [this] {
                                 if (const auto p = preparation->installProgress())
                                     progress << *p;
                                 else
                                     progress << -1; // cleared
                             });
        }
        void prepare(bool force)
        {
            preparation->prepare(force, preparation.get(),
                                 [this](bool ready) { answers << ready; });
        }
    };

    static QString standInEngine(const QTemporaryDir &dir)
    {
        const QString path = dir.filePath("yt-dlp");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\necho 2023.03.04\n");
        file.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        return path;
    }

private slots:
    void concurrentCallsShareOneInstall()
    {
        Prepared p;
        p.scene.publishEngine("fresh");
        p.scene.server.setBytesPerSecond(2'000'000); // long enough for everyone to pile up
        QVERIFY(!p.preparation->engineReady());
        QCOMPARE(p.preparation->startingStatus(), "Один раз устанавливаю быстрый движок (≈51 МБ)…");
        p.prepare(false);
        p.prepare(false);
        p.prepare(true);
        QVERIFY(p.preparation->isPreparing());
        QVERIFY(p.answers.isEmpty()); // never answered from inside the call
        QTRY_COMPARE_WITH_TIMEOUT(p.answers.size(), 3, 60000);
        QCOMPARE(p.answers, (QList<bool>{true, true, true}));
        QCOMPARE(p.scene.server.requestCount(p.scene.feedPath()), 1);
        QCOMPARE(p.scene.server.requestCount(p.scene.objectPath()), 1);
        QVERIFY(p.preparation->engineReady());
        QVERIFY(p.preparation->refreshCompleted());
        QCOMPARE(p.preparation->installProgress(), std::nullopt);
        QCOMPARE(*p.preparation->existingExecutable(), p.scene.installer().installedExecutable());
        QCOMPARE(p.preparation->startingStatus(), "Проверяю поддержку платформы…");

        // 0 for a first install, 0.05, the download span, 0.9, 1.0, then cleared.
        QVERIFY(p.progress.size() >= 5);
        QCOMPARE(p.progress.mid(0, 2), (QList<double>{0.0, 0.05}));
        QCOMPARE(p.progress.mid(p.progress.size() - 4), (QList<double>{0.85, 0.9, 1.0, -1}));
        for (qsizetype i = 1; i < p.progress.size() - 1; ++i)
            QVERIFY(p.progress[i] > p.progress[i - 1]);

        // Done for this run of the program: later calls answer without the network.
        p.prepare(false);
        QTRY_COMPARE(p.answers.size(), 4);
        QCOMPARE(p.scene.server.requestCount(p.scene.feedPath()), 1);
        // A forced refresh always asks the feed again.
        p.prepare(true);
        QTRY_COMPARE_WITH_TIMEOUT(p.answers.size(), 5, 30000);
        QCOMPARE(p.scene.server.requestCount(p.scene.feedPath()), 2);
        QCOMPARE(p.scene.server.requestCount(p.scene.objectPath()), 1);
    }

    void failedInstallFallsBackToAPackagedEngine()
    {
        QTemporaryDir system;
        const QString packaged = standInEngine(system);
        Prepared p({packaged});
        p.scene.publishEngine("x");
        p.scene.server.script(p.scene.feedPath(), {{.status = 403}, {.status = 403}});
        QVERIFY(p.preparation->engineReady());
        QVERIFY(p.preparation->needsRefresh()); // a packaged engine is still due
        QSignalSpy finished(p.preparation.get(), &EnginePreparation::preparationFinished);
        p.prepare(false);
        QTRY_COMPARE_WITH_TIMEOUT(p.answers.size(), 1, 30000);
        QCOMPARE(p.answers.first(), true);
        QCOMPARE(finished.first(), (QList<QVariant>{true, false}));
        QVERIFY(!p.preparation->refreshCompleted());
        QCOMPARE(*p.preparation->existingExecutable(), packaged);
        QVERIFY(!p.scene.prefs.contains(p.scene.tool.digestKey));

        // The next analysis tries again.
        p.prepare(false);
        QTRY_COMPARE_WITH_TIMEOUT(p.answers.size(), 2, 30000);
        QCOMPARE(p.scene.server.requestCount(p.scene.feedPath()), 2);
    }

    void noEngineAnywhere()
    {
        Prepared p({"/nonexistent/yt-dlp"});
        p.scene.server.script(p.scene.feedPath(), {{.status = 500}});
        QVERIFY(!p.preparation->existingExecutable());
        QVERIFY(p.preparation->requiresFastEngineInstall());
        QVERIFY(p.preparation->needsRefresh());
        p.prepare(false);
        QTRY_COMPARE_WITH_TIMEOUT(p.answers.size(), 1, 30000);
        QCOMPARE(p.answers.first(), false);
        QVERIFY(!p.preparation->engineReady());
        QCOMPARE(p.preparation->installProgress(), std::nullopt);
    }

    void recentRefreshNeedsNoNetwork()
    {
        Prepared p;
        p.scene.publishEngine("fresh");
        QVERIFY(p.scene.install().ok());
        p.clock.wall = QDateTime::currentDateTimeUtc().addSecs(86399);
        EnginePreparation preparation(p.scene.installer(), p.scene.prefs, p.clock, {});
        QVERIFY(preparation.engineReady());
        bool answered = false;
        preparation.prepare(false, this, [&](bool ready) { answered = ready; });
        QTRY_VERIFY(answered);
        QVERIFY(preparation.refreshCompleted());
        QCOMPARE(p.scene.server.requestCount(p.scene.feedPath()), 1); // the install's own
    }

    void destroyingDuringAnInstallCancelsIt()
    {
        auto p = std::make_unique<Prepared>();
        p->scene.publishEngine("slow");
        p->scene.server.script(p->scene.objectPath(), {{.stallAfterBytes = 10, .stallMs = -1}});
        p->prepare(false);
        QVERIFY(p->scene.server.waitForRequests(p->scene.objectPath(), 1, 20000));
        const QString program = p->scene.installer().programFolder();
        p->preparation.reset(); // returns promptly: the download is cancelled
        QVERIFY(p->answers.isEmpty());
        QVERIFY(!QFileInfo::exists(program + "/yt-dlp-engine"));
        QVERIFY(p->scene.tempEntries().isEmpty());
    }
};

TOVRIN_TEST(TestEnginePreparation);
#include "test_engine_preparation.moc"
