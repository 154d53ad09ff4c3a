#include "engine/engine_preparation.h"
#include "install_scene.h"
#include "support/fake_clock.h"
#include "support/test_main.h"

#include <QSignalSpy>

class TestEnginePreparation : public QObject {
    Q_OBJECT

    // Both tools are published on the loopback feed; no package-manager runtime.
    struct Prepared {
        InstallScene scene;
        FakeClock clock;
        std::unique_ptr<EnginePreparation> preparation;
        QList<double> progress; // as it changes; -1 when it is cleared
        QList<bool> answers;

        explicit Prepared(const QStringList &systemEngines = {})
        {
            scene.publishRelease(engineReleaseTool(), "2025.11.12");
            scene.publishRelease(runtimeReleaseTool(), "deno 2.5.6");
            preparation = make(systemEngines);
            QObject::connect(preparation.get(), &EnginePreparation::installProgressChanged,
                             preparation.get(),
                             [this] { progress << preparation->installProgress().value_or(-1); });
        }
        // Another run of the program over the same folders and preferences.
        std::unique_ptr<EnginePreparation> make(const QStringList &systemEngines = {})
        {
            return std::make_unique<EnginePreparation>(
                scene.installer(), scene.prefs, clock, systemEngines,
                RuntimeSetup{scene.installer(runtimeReleaseTool()), {}});
        }
        void prepare(bool force)
        {
            preparation->prepare(force, preparation.get(),
                                 [this](bool ready) { answers << ready; });
        }
        // Requests for the engine's feed and archive, then the runtime's.
        QList<int> requests() const
        {
            QList<int> counts;
            for (const ReleaseTool &t : {engineReleaseTool(), runtimeReleaseTool()})
                counts << scene.server.requestCount(t.feedPath)
                       << scene.server.requestCount(InstallScene::objectPath(t));
            return counts;
        }
    };

private slots:
    void firstInstallOfBothSharesOnePreparation()
    {
        Prepared p;
        p.scene.server.setBytesPerSecond(2'000'000); // long enough for everyone to pile up
        QCOMPARE(p.preparation->startingStatus(), "Один раз устанавливаю быстрый движок (≈96 МБ)…");
        p.prepare(false);
        p.prepare(false);
        p.prepare(true);
        QVERIFY(p.preparation->isPreparing());
        QVERIFY(p.answers.isEmpty()); // never answered from inside the call
        QTRY_COMPARE_WITH_TIMEOUT(p.answers.size(), 3, 60000);
        QCOMPARE(p.answers, (QList<bool>{true, true, true}));
        QCOMPARE(p.requests(), (QList<int>{1, 1, 1, 1}));
        QCOMPARE(*p.preparation->existingExecutable(), p.scene.installer().installedExecutable());
        QCOMPARE(p.preparation->startingStatus(), "Проверяю поддержку платформы…");

        // One bar over both downloads, each its share of the size: 0 for a first install, the
        // engine's part rising to its share, the runtime's on to 1.0, then cleared.
        const double engineShare = 51.0 / 96.0;
        QCOMPARE(p.progress.first(), 0.0);
        QVERIFY(p.progress.contains(engineShare));
        QVERIFY(p.progress.at(p.progress.size() - 3) > engineShare);
        QCOMPARE(p.progress.mid(p.progress.size() - 2), (QList<double>{1.0, -1}));
        QVERIFY(std::is_sorted(p.progress.cbegin(), p.progress.cend() - 1));

        // Done for this run of the program: later calls answer without the network.
        p.prepare(false);
        QTRY_COMPARE(p.answers.size(), 4);
        // The next runs of the program ask neither feed until a day has passed; then both
        // builds are found current.
        const QDateTime installed = p.clock.wall;
        for (const int seconds : {86399, 86400}) {
            p.clock.wall = installed.addSecs(seconds);
            bool answered = false;
            const auto next = p.make();
            next->prepare(false, this, [&](bool ready) { answered = ready; });
            QTRY_VERIFY_WITH_TIMEOUT(answered, 30000);
            QVERIFY(next->refreshCompleted());
        }
        QCOMPARE(p.requests(), (QList<int>{2, 1, 2, 1}));
    }

    // Readiness follows the engine alone: a usable engine (installed or packaged) is ready; a
    // failed engine install is tried again by the next call, a failed runtime only goes unused.
    void failedInstalls_data()
    {
        QTest::addColumn<bool>("engineFails");
        QTest::addColumn<bool>("packaged"); // a package-manager engine is there
        QTest::addColumn<bool>("ready");
        QTest::newRow("the runtime fails, the engine installs") << false << false << true;
        QTest::newRow("the engine fails, a packaged one remains") << true << true << true;
        QTest::newRow("the engine fails, none anywhere") << true << false << false;
    }

    void failedInstalls()
    {
        QFETCH(bool, engineFails);
        QFETCH(bool, packaged);
        QFETCH(bool, ready);
        QTemporaryDir system;
        const QString packagedEngine = system.filePath("yt-dlp");
        if (packaged)
            writeScript(packagedEngine, "echo 2023.03.04");
        Prepared p({packagedEngine});
        const ReleaseTool failing = engineFails ? engineReleaseTool() : runtimeReleaseTool();
        const ReleaseTool other = engineFails ? runtimeReleaseTool() : engineReleaseTool();
        p.scene.server.script(failing.feedPath, {{.status = 403}, {.status = 500}});
        QCOMPARE(p.preparation->engineReady(), packaged);
        QSignalSpy finished(p.preparation.get(), &EnginePreparation::preparationFinished);
        p.prepare(false);
        QTRY_COMPARE_WITH_TIMEOUT(p.answers.size(), 1, 30000);
        QCOMPARE(p.answers, QList<bool>{ready});
        QCOMPARE(finished.first(), (QList<QVariant>{ready, !engineFails}));
        QCOMPARE(p.preparation->existingExecutable().value_or(""),
                 !engineFails ? p.scene.installer().installedExecutable()
                              : (packaged ? packagedEngine : QString()));
        QCOMPARE(p.preparation->installProgress(), std::nullopt);
        QVERIFY(!p.scene.prefs.contains(failing.digestKey));
        QVERIFY(p.scene.prefs.contains(other.digestKey));
        p.prepare(false);
        QTRY_COMPARE_WITH_TIMEOUT(p.answers.size(), 2, 30000);
        QCOMPARE(p.scene.server.requestCount(failing.feedPath), engineFails ? 2 : 1);
    }

    void destroyingDuringAnInstallCancelsIt()
    {
        auto p = std::make_unique<Prepared>();
        p->scene.publishRelease(engineReleaseTool(), "slow");
        const QString object = InstallScene::objectPath(engineReleaseTool());
        p->scene.server.script(object, {{.stallAfterBytes = 10, .stallMs = -1}});
        p->prepare(false);
        QTRY_VERIFY_WITH_TIMEOUT(p->scene.server.requestCount(object) >= 1, 20000);
        const QString program = p->scene.installer().programFolder();
        p->preparation.reset(); // returns promptly: the download is cancelled
        QVERIFY(p->answers.isEmpty());
        QVERIFY(!QFileInfo::exists(program + "/yt-dlp-engine"));
        QVERIFY(folderEntries(p->scene.temp).isEmpty());
    }
};

TOVRIN_TEST(TestEnginePreparation);
#include "test_engine_preparation.moc"
