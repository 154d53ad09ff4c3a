#include "engine/engine_preparation.h"
#include "install_scene.h"
#include "support/fake_clock.h"
#include "support/test_main.h"

#include <QSignalSpy>

class TestEnginePreparation : public QObject {
    Q_OBJECT

    struct Prepared {
        InstallScene scene;
        FakeClock clock;
        std::unique_ptr<EnginePreparation> preparation;
        QList<double> progress;
        QList<bool> answers;

        // Both tools are published; their stand-ins answer "--version" like a current engine
        // build and Deno.
        explicit Prepared(const QStringList &systemEngines = {})
        {
            clock.wall = QDateTime::currentDateTimeUtc();
            scene.publishRelease(engineReleaseTool(), "2025.11.12");
            scene.publishRelease(runtimeReleaseTool(), "deno 2.5.6");
            preparation = make(systemEngines);
            // Progress as it changes; -1 when it is cleared.
            QObject::connect(preparation.get(), &EnginePreparation::installProgressChanged,
                             preparation.get(),
                             [this] { progress << preparation->installProgress().value_or(-1); });
        }
        // Both tools from the loopback feed; no package-manager runtime.
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
    };

    // What a run of the usable engine is given, decided the way a worker decides it.
    static EngineRunOptions runOptions(const EnginePreparation &preparation)
    {
        VersionProbe probe;
        EngineRunOptions options;
        onAWorker([&] {
            options = engineRunOptions(probe, preparation.existingExecutable().value_or(""),
                                       preparation.runtimeCandidates());
        });
        return options;
    }

private slots:
    void firstInstallOfBothSharesOnePreparation()
    {
        Prepared p;
        p.scene.server.setBytesPerSecond(2'000'000); // long enough for everyone to pile up
        QVERIFY(!p.preparation->engineReady());
        QCOMPARE(p.preparation->startingStatus(), "Один раз устанавливаю быстрый движок (≈96 МБ)…");
        p.prepare(false);
        p.prepare(false);
        p.prepare(true);
        QVERIFY(p.preparation->isPreparing());
        QVERIFY(p.answers.isEmpty()); // never answered from inside the call
        QTRY_COMPARE_WITH_TIMEOUT(p.answers.size(), 3, 60000);
        QCOMPARE(p.answers, (QList<bool>{true, true, true}));
        // Requests for the two feeds and the two archives.
        const auto requests = [&] {
            QList<int> counts;
            for (const ReleaseTool &t : {engineReleaseTool(), runtimeReleaseTool()})
                counts << p.scene.server.requestCount(t.feedPath)
                       << p.scene.server.requestCount(InstallScene::objectPath(t));
            return counts;
        };
        QCOMPARE(requests(), (QList<int>{1, 1, 1, 1}));
        QVERIFY(p.preparation->engineReady());
        QVERIFY(p.preparation->refreshCompleted());
        QCOMPARE(p.preparation->installProgress(), std::nullopt);
        QCOMPARE(*p.preparation->existingExecutable(), p.scene.installer().installedExecutable());
        QCOMPARE(p.preparation->startingStatus(), "Проверяю поддержку платформы…");

        // One bar over both downloads, each its share of the size: 0 for a first install, the
        // engine's 0.05…1.0 up to its share, the runtime's on to 1.0, then cleared.
        const double engineShare = 51.0 / 96.0;
        const auto near = [](double a, double b) { return std::abs(a - b) < 1e-6; };
        QCOMPARE(p.progress.first(), 0.0);
        QVERIFY(near(p.progress.at(1), 0.05 * engineShare));
        QVERIFY(std::any_of(p.progress.cbegin(), p.progress.cend(),
                            [&](double v) { return near(v, engineShare); }));
        QVERIFY(p.progress.at(p.progress.size() - 3) > engineShare);
        QCOMPARE(p.progress.mid(p.progress.size() - 2), (QList<double>{1.0, -1}));
        for (qsizetype i = 1; i < p.progress.size() - 1; ++i)
            QVERIFY(p.progress[i] > p.progress[i - 1]);

        // Every run of the engine gets the installed runtime by its absolute path.
        QCOMPARE(
            runOptions(*p.preparation).runtimeArguments,
            (QStringList{"--no-js-runtimes", "--js-runtimes",
                         "deno:" + p.scene.installer(runtimeReleaseTool()).installedExecutable()}));

        // Done for this run of the program: later calls answer without the network.
        p.prepare(false);
        QTRY_COMPARE(p.answers.size(), 4);
        // The next run of the program, the same day, asks neither feed.
        bool answered = false;
        const auto next = p.make();
        next->prepare(false, this, [&](bool ready) { answered = ready; });
        QTRY_VERIFY(answered);
        QVERIFY(next->refreshCompleted());
        QCOMPARE(requests(), (QList<int>{1, 1, 1, 1}));
        // A forced refresh asks both feeds again; both builds are current.
        p.prepare(true);
        QTRY_COMPARE_WITH_TIMEOUT(p.answers.size(), 5, 30000);
        QCOMPARE(requests(), (QList<int>{2, 1, 2, 1})); // engine feed, archive; runtime's
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
        QVERIFY(p.preparation->needsRefresh()); // a packaged engine is still due
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
        if (!engineFails) {
            const EngineRunOptions options = runOptions(*p.preparation);
            QVERIFY(options.engine.knowsJsRuntimes());
            QCOMPARE(options.runtimeArguments, QStringList()); // no runtime to pass
        }
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
