#include "engine/release_feed.h"
#include "install_scene.h"
#include "support/test_main.h"

#include <QFileInfo>
#include <QTest>

namespace {

enum class Refusal { BadRelease, FeedUnavailable };

} // namespace

class TestToolInstaller : public QObject {
    Q_OBJECT

private slots:
    void firstInstall()
    {
        InstallScene scene;
        scene.publishEngine("fresh");
        // A single-file engine of an earlier version goes once the folder build is in place.
        QDir().mkpath(scene.installer().programFolder());
        QFile legacy(scene.installer().legacyExecutable());
        QVERIFY(legacy.open(QIODevice::WriteOnly));
        legacy.close();

        QList<double> progress;
        const auto result = scene.install(&progress);
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().message));
        QVERIFY(result.value().downloaded);

        const ToolInstaller installer = scene.installer();
        QVERIFY(isExecutableFile(installer.installedExecutable())); // 0644 in the zip
        QVERIFY(scene.installedScript().contains("echo fresh"));
        QVERIFY(QFileInfo::exists(installer.toolDirectory() + "/_internal/base_library.txt"));
        QVERIFY(!QFileInfo::exists(installer.legacyExecutable()));
        QCOMPARE(scene.programFolderEntries(), QStringList{"yt-dlp-engine"});
        QVERIFY(scene.tempEntries().isEmpty()); // the archive is gone
        QCOMPARE(readDigest(scene), result.value().sha256);
        QVERIFY(scene.prefs.value(scene.tool.lastRefreshKey)->typeId() == QMetaType::QDateTime);

        // 0.05, the download rising through 0.10…0.85 ending at 0.85, then 0.9 and 1.0.
        QVERIFY(progress.size() >= 4);
        QCOMPARE(progress.first(), 0.05);
        QCOMPARE(progress.mid(progress.size() - 3), (QList<double>{0.85, 0.9, 1.0}));
        for (qsizetype i = 1; i < progress.size(); ++i)
            QVERIFY(progress[i] > progress[i - 1]);
        for (qsizetype i = 1; i < progress.size() - 2; ++i)
            QVERIFY(progress[i] >= 0.1 && progress[i] <= 0.85);

        const auto feed = scene.server.requests(scene.feedPath()).first();
        QCOMPARE(feed.header("Accept"), "application/vnd.github+json");
        QCOMPARE(feed.header("User-Agent"), "Tovrin/3");
        QCOMPARE(feed.header("X-GitHub-Api-Version"), "2026-03-10");
        QCOMPARE(scene.server.requests(scene.objectPath()).first().header("Cache-Control"),
                 "no-cache");
    }

    void alreadyCurrentOnlyUpdatesTheDate()
    {
        InstallScene scene;
        scene.publishEngine("same");
        QVERIFY(scene.install().ok());
        const auto firstDate = scene.prefs.value(scene.tool.lastRefreshKey);
        const int writes = scene.prefs.writes;

        QList<double> progress;
        const auto again = scene.install(&progress);
        QVERIFY(again.ok());
        QVERIFY(!again.value().downloaded);
        QCOMPARE(progress, (QList<double>{0.05, 1.0}));
        QCOMPARE(scene.server.requestCount(scene.objectPath()), 1);
        QCOMPARE(scene.prefs.writes, writes + 1); // the date only

        // The same digest with the executable gone: a full install runs.
        QFile::remove(scene.installer().installedExecutable());
        QVERIFY(scene.installer().requiresInstall());
        const auto repaired = scene.install();
        QVERIFY(repaired.ok());
        QVERIFY(repaired.value().downloaded);
        QCOMPARE(scene.server.requestCount(scene.objectPath()), 2);
        Q_UNUSED(firstDate);
    }

    void upperCaseDigitsAreAccepted()
    {
        InstallScene scene;
        const QByteArray zip = engineZip(scene.tool.executableName, "upper");
        scene.publish(zip, "sha256:" + InstallScene::sha256(zip).toUpper());
        const auto result = scene.install();
        QVERIFY(result.ok());
        QCOMPARE(readDigest(scene), InstallScene::sha256(zip));
    }

    void refusedReleasesLeaveThePreviousEngine_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("refusal");
        const int bad = int(Refusal::BadRelease), unavailable = int(Refusal::FeedUnavailable);
        QTest::newRow("digest mismatch") << "mismatch" << bad;
        QTest::newRow("upper-case prefix") << "SHA256:" << bad;
        QTest::newRow("63 digits") << "short" << bad;
        QTest::newRow("65 digits") << "long" << bad;
        QTest::newRow("not hexadecimal") << "nothex" << bad;
        QTest::newRow("no digest") << "nodigest" << bad;
        QTest::newRow("missing asset") << "noasset" << bad;
        QTest::newRow("feed 403") << "feed403" << unavailable;
        QTest::newRow("feed 500") << "feed500" << unavailable;
        QTest::newRow("archive 404") << "archive404" << unavailable;
        QTest::newRow("dot-dot entry") << "dotdot" << bad;
        QTest::newRow("absolute entry") << "absolute" << bad;
        QTest::newRow("link to an absolute path") << "link" << bad;
        QTest::newRow("link climbing out") << "uplink" << bad;
        QTest::newRow("no executable") << "noexe" << bad;
        QTest::newRow("not a zip") << "notzip" << bad;
    }

    void refusedReleasesLeaveThePreviousEngine()
    {
        QFETCH(QString, fault);
        QFETCH(int, refusal);
        InstallScene scene;
        scene.publishEngine("previous");
        QVERIFY(scene.install().ok());
        const QString digestBefore = readDigest(scene);
        const auto dateBefore = scene.prefs.value(scene.tool.lastRefreshKey);
        QTemporaryDir elsewhere;

        const QString exe = scene.tool.executableName;
        QByteArray zip = engineZip(exe, "next");
        std::optional<QString> digest;
        QString assetName;
        if (fault == "dotdot")
            zip = buildZip({ZipEntry::file(exe, "x"), ZipEntry::file("../../escaped", "x")});
        else if (fault == "absolute")
            zip = buildZip(
                {ZipEntry::file(exe, "x"), ZipEntry::file(elsewhere.filePath("escaped"), "x")});
        else if (fault == "link")
            zip = buildZip(
                {ZipEntry::file(exe, "x"), ZipEntry::symlink("_internal", elsewhere.path())});
        else if (fault == "uplink")
            zip = buildZip({ZipEntry::file(exe, "x"), ZipEntry::symlink("_internal/up", "../..")});
        else if (fault == "noexe")
            zip = buildZip({ZipEntry::file("README", "x")});
        else if (fault == "notzip")
            zip = "this is not an archive";
        const QString sha = InstallScene::sha256(zip);
        digest = "sha256:" + sha;
        if (fault == "mismatch")
            digest = "sha256:" + InstallScene::sha256("other bytes");
        else if (fault == "SHA256:")
            digest = "SHA256:" + sha;
        else if (fault == "short")
            digest = "sha256:" + sha.left(63);
        else if (fault == "long")
            digest = "sha256:" + sha + "0";
        else if (fault == "nothex")
            digest = "sha256:" + sha.left(63) + "g";
        else if (fault == "nodigest")
            digest.reset();
        else if (fault == "noasset")
            assetName = "yt-dlp_macos.zip";
        scene.publish(zip, digest, assetName);
        if (fault == "feed403")
            scene.server.script(scene.feedPath(), {{.status = 403, .body = "{}"}});
        else if (fault == "feed500")
            scene.server.script(scene.feedPath(), {{.status = 500}});
        else if (fault == "archive404")
            scene.server.script(scene.objectPath(), {{.status = 404}});

        const auto result = scene.install();
        QVERIFY(!result.ok());
        if (Refusal(refusal) == Refusal::BadRelease)
            QVERIFY2(InstallErrors::isBadRelease(result.error()),
                     qPrintable(result.error().message));
        else
            QVERIFY2(InstallErrors::isFeedUnavailable(result.error()),
                     qPrintable(result.error().message));

        QVERIFY(scene.installedScript().contains("echo previous"));
        QCOMPARE(readDigest(scene), digestBefore);
        QCOMPARE(scene.prefs.value(scene.tool.lastRefreshKey), dateBefore);
        QCOMPARE(scene.programFolderEntries(), QStringList{"yt-dlp-engine"});
        QVERIFY(scene.tempEntries().isEmpty());
        QVERIFY(!QFileInfo::exists(elsewhere.filePath("escaped")));
        QVERIFY(!QFileInfo::exists(scene.dir.filePath("escaped")));
        QVERIFY(!QFileInfo::exists(scene.support + "/escaped"));
    }

    void failedSwapRestoresThePreviousFolder()
    {
        InstallScene scene;
        scene.publishEngine("previous");
        QVERIFY(scene.install().ok());
        scene.publishEngine("next");
        // The old folder moves to its backup, then moving the staged build into place fails.
        scene.moveFolder = [](const QString &from, const QString &to) {
            if (from.endsWith(".install"))
                return false;
            return QDir().rename(from, to);
        };
        const auto result = scene.install();
        QVERIFY(!result.ok());
        QCOMPARE(result.error().kind, ErrorKind::FileSystem);
        QVERIFY(scene.installedScript().contains("echo previous"));
        QCOMPARE(scene.programFolderEntries(), QStringList{"yt-dlp-engine"});
    }

    void leftoversOfADeadInstallAreRemoved()
    {
        InstallScene scene;
        scene.publishEngine("one");
        QVERIFY(scene.install().ok());
        const QDir program(scene.installer().programFolder());
        QVERIFY(program.mkpath("yt-dlp-engine-DEAD.install/_internal"));
        QVERIFY(program.mkpath("yt-dlp-engine-OLD.backup"));
        QVERIFY(program.mkpath("unrelated.install"));
        scene.publishEngine("two");
        QVERIFY(scene.install().ok());
        QCOMPARE(scene.programFolderEntries(), (QStringList{"unrelated.install", "yt-dlp-engine"}));
    }

    void noLengthMeansNoDownloadProgress()
    {
        InstallScene scene;
        scene.publishEngine("nolength");
        scene.server.script(scene.objectPath(), {{.omitContentLength = true}});
        QList<double> progress;
        QVERIFY(scene.install(&progress).ok());
        QCOMPARE(progress, (QList<double>{0.05, 0.9, 1.0}));
    }

    void runningEnginePostponesTheSwap()
    {
        InstallScene scene;
        scene.publishEngine("previous");
        QVERIFY(scene.install().ok());
        scene.publishEngine("next");
        ToolFolderUsage usage;
        {
            const ToolFolderUsage::Lease lease = usage.acquire();
            const auto result = scene.install(nullptr, &usage);
            QVERIFY(!result.ok());
            QCOMPARE(result.error().message, ToolInstaller::busy().message);
            QCOMPARE(scene.server.requestCount(scene.objectPath()), 1); // nothing downloaded
        }
        QVERIFY(scene.installedScript().contains("echo previous"));
        QVERIFY(scene.install(nullptr, &usage).ok());
        QVERIFY(scene.installedScript().contains("echo next"));
    }

    void anotherToolIsAParameterChange()
    {
        InstallScene scene;
        scene.tool = ReleaseTool{"/repos/example/runtime/releases/latest",
                                 "runtime-x86_64.zip",
                                 "runtime",
                                 "runtime-folder",
                                 {},
                                 "runtimeDigest.v1",
                                 "runtimeRefresh.v1"};
        scene.publishEngine("runtime");
        QVERIFY(scene.install().ok());
        QVERIFY(isExecutableFile(scene.support + "/Corvane/runtime-folder/runtime"));
        QVERIFY(scene.prefs.contains("runtimeDigest.v1"));
        QVERIFY(!scene.prefs.contains(scene.tool.digestKey + "x"));
        QCOMPARE(scene.server.requestCount("/repos/example/runtime/releases/latest"), 1);
    }

    void refreshPolicy_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("due");
        const QDateTime now(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
        QTest::newRow("one second short of a day")
            << true << QVariant(now.addSecs(-86399)) << false;
        QTest::newRow("exactly a day") << true << QVariant(now.addSecs(-86400)) << true;
        QTest::newRow("in the future") << true << QVariant(now.addSecs(3600)) << false;
        QTest::newRow("never") << true << QVariant() << true;
        QTest::newRow("not a date") << true << QVariant(QStringLiteral("yesterday")) << true;
        QTest::newRow("nothing installed") << false << QVariant(now) << true;
    }

    void refreshPolicy()
    {
        QFETCH(bool, installed);
        QFETCH(QVariant, stored);
        InstallScene scene;
        const ToolInstaller installer = scene.installer();
        if (installed) {
            QVERIFY(QDir().mkpath(installer.toolDirectory()));
            QFile exe(installer.installedExecutable());
            QVERIFY(exe.open(QIODevice::WriteOnly));
            exe.close();
            QFile::setPermissions(exe.fileName(), QFile::ReadOwner | QFile::ExeOwner);
        }
        if (stored.isValid())
            scene.prefs.setValue(scene.tool.lastRefreshKey, stored);
        const QDateTime now(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
        QTEST(installer.needsRefresh(scene.prefs, now), "due");
        QCOMPARE(installer.requiresInstall(), !installed);
    }

    void digests_data()
    {
        QTest::addColumn<QString>("digest");
        QTest::addColumn<QString>("verified");
        const QString hex = QString(64, u'a');
        QTest::newRow("lower") << "sha256:" + hex << hex;
        QTest::newRow("upper digits") << "sha256:" + hex.toUpper() << hex;
        QTest::newRow("upper prefix") << "SHA256:" + hex << "";
        QTest::newRow("other algorithm") << "sha512:" + hex << "";
        QTest::newRow("63") << "sha256:" + hex.left(63) << "";
        QTest::newRow("65") << "sha256:" + hex + "a"
                            << "";
        QTest::newRow("space") << "sha256: " + hex.left(63) << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void digests()
    {
        QFETCH(QString, digest);
        QTEST(verifiedDigest(digest).value_or(QString()), "verified");
    }

private:
    static QString readDigest(const InstallScene &scene)
    {
        const auto v = scene.prefs.value(scene.tool.digestKey);
        return v ? v->toString() : QString();
    }
};

TOVRIN_TEST(TestToolInstaller);
#include "test_tool_installer.moc"
