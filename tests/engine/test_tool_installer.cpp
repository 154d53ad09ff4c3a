#include "engine/release_feed.h"
#include "install_scene.h"
#include "support/test_main.h"

#include <QFileInfo>
#include <QTest>

// The engine and the runtime go through the one installer; the tests that both share run for
// both.
class TestToolInstaller : public QObject {
    Q_OBJECT

private slots:
    void firstInstall_data()
    {
        QTest::addColumn<bool>("isRuntime");
        QTest::addColumn<QString>("digestSource");
        QTest::newRow("engine, digest in the feed") << false << "feed";
        QTest::newRow("runtime, upper-case digits in the feed") << true << "upper";
        QTest::newRow("runtime, companion checksum file") << true << "file";
    }

    void firstInstall()
    {
        QFETCH(QString, digestSource);
        InstallScene scene(InstallScene::rowTool());
        const QByteArray zip = engineZip(scene.tool.executableName, "fresh");
        const QString sha = InstallScene::sha256(zip);
        if (digestSource == "file")
            scene.publish(scene.tool, zip, std::nullopt, {},
                          sha.toUpper().toLatin1() + "  " + scene.tool.assetName.toUtf8() + "\n");
        else
            scene.publish(scene.tool, zip,
                          "sha256:" + (digestSource == "upper" ? sha.toUpper() : sha));
        const ToolInstaller installer = scene.installer();
        // A single-file engine of an earlier version goes once the folder build is in place.
        if (!installer.legacyExecutable().isEmpty()) {
            QDir().mkpath(installer.programFolder());
            writeScript(installer.legacyExecutable(), {});
        }

        // A first install replaces nothing: a running engine (a packaged one) does not hold it up.
        ToolFolderUsage usage;
        const ToolFolderUsage::Lease lease = usage.acquire();
        QList<double> progress;
        const auto result = scene.install(&progress, &usage);
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().message));
        QVERIFY(result.value().downloaded);
        QVERIFY(isExecutableFile(installer.installedExecutable())); // 0644 in the zip
        QVERIFY(scene.installedScript().contains("echo fresh"));
        QVERIFY(QFileInfo::exists(installer.toolDirectory() + "/_internal/base_library.txt"));
        QCOMPARE(scene.programFolderEntries(), QStringList{scene.tool.folderName});
        QVERIFY(scene.tempEntries().isEmpty()); // the archive is gone
        QCOMPARE(readDigest(scene), sha);
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

    void refusedReleasesLeaveThePreviousBuild_data()
    {
        QTest::addColumn<bool>("isRuntime");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("unavailable"); // the feed or a host said no; else a bad release
        const QStringList bad =
            QString("digest mismatch|upper-case prefix|63 digits|no digest and no checksum file|"
                    "malformed digest beside a good checksum file|checksum file of another "
                    "asset|missing asset|dot-dot entry|absolute entry|link to an absolute path|"
                    "link climbing out|no executable|not a zip")
                .split(u'|');
        const QStringList unavailable{"checksum file 404", "feed 403", "feed 500", "archive 404"};
        for (const bool runtime : {false, true}) {
            for (const QString &fault : bad + unavailable)
                QTest::addRow("%s: %s", runtime ? "runtime" : "engine", qPrintable(fault))
                    << runtime << fault << unavailable.contains(fault);
        }
    }

    void refusedReleasesLeaveThePreviousBuild()
    {
        QFETCH(QString, fault);
        QFETCH(bool, unavailable);
        InstallScene scene(InstallScene::rowTool());
        scene.publishRelease(scene.tool, "previous");
        QVERIFY(scene.install().ok());
        const QString digestBefore = readDigest(scene);
        const auto dateBefore = scene.prefs.value(scene.tool.lastRefreshKey);
        QTemporaryDir elsewhere;

        const QString exe = scene.tool.executableName;
        QByteArray zip = engineZip(exe, "next");
        const auto beside = [&](const ZipEntry &e) {
            return buildZip({ZipEntry::file(exe, "x"), e});
        };
        if (fault == "dot-dot entry")
            zip = beside(ZipEntry::file("../../escaped", "x"));
        else if (fault == "absolute entry")
            zip = beside(ZipEntry::file(elsewhere.filePath("escaped"), "x"));
        else if (fault == "link to an absolute path")
            zip = beside(ZipEntry::symlink("_internal", elsewhere.path()));
        else if (fault == "link climbing out")
            zip = beside(ZipEntry::symlink("_internal/up", "../.."));
        else if (fault == "no executable")
            zip = buildZip({ZipEntry::file("README", "x")});
        else if (fault == "not a zip")
            zip = "this is not an archive";
        const QString sha = InstallScene::sha256(zip);
        std::optional<QString> digest = "sha256:" + sha;
        std::optional<QByteArray> checksum;
        QString assetName;
        if (fault == "digest mismatch")
            digest = "sha256:" + InstallScene::sha256("other bytes");
        else if (fault == "upper-case prefix")
            digest = "SHA256:" + sha;
        else if (fault == "63 digits")
            digest = "sha256:" + sha.left(63);
        else if (fault == "no digest and no checksum file")
            digest.reset();
        else if (fault == "malformed digest beside a good checksum file")
            digest = "sha256:" + sha.left(63), checksum = sha.toLatin1();
        else if (fault == "checksum file of another asset")
            digest.reset(), checksum = sha.toLatin1() + "  other.zip";
        else if (fault == "checksum file 404")
            digest.reset(), checksum = sha.toLatin1();
        else if (fault == "missing asset")
            assetName = "other.zip";
        scene.publish(scene.tool, zip, digest, assetName, checksum);
        if (fault == "feed 403")
            scene.server.script(scene.feedPath(), {{.status = 403, .body = "{}"}});
        else if (fault == "feed 500")
            scene.server.script(scene.feedPath(), {{.status = 500}});
        else if (fault == "archive 404")
            scene.server.script(scene.objectPath(), {{.status = 404}});
        else if (fault == "checksum file 404")
            scene.server.script(scene.objectPath() + ".sha256sum", {{.status = 404}});

        const auto result = scene.install();
        QVERIFY(!result.ok());
        QVERIFY2(unavailable ? InstallErrors::isFeedUnavailable(result.error())
                             : InstallErrors::isBadRelease(result.error()),
                 qPrintable(result.error().message));

        QVERIFY(scene.installedScript().contains("echo previous"));
        QCOMPARE(readDigest(scene), digestBefore);
        QCOMPARE(scene.prefs.value(scene.tool.lastRefreshKey), dateBefore);
        QCOMPARE(scene.programFolderEntries(), QStringList{scene.tool.folderName});
        QVERIFY(scene.tempEntries().isEmpty());
        QVERIFY(!QFileInfo::exists(elsewhere.filePath("escaped")));
        QVERIFY(!QFileInfo::exists(scene.dir.filePath("escaped")));
        QVERIFY(!QFileInfo::exists(scene.support + "/escaped"));
    }

    // A later install over a previous build ("previous"); a new release ("next") is published
    // unless the previous one is still current.
    void laterInstall_data()
    {
        QTest::addColumn<bool>("isRuntime");
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<ErrorKind>("failure");    // None: it succeeds
        QTest::addColumn<QByteArray>("installed"); // the build in place afterwards
        QTest::addColumn<int>("downloads");        // archive requests in all
        const QList<std::tuple<QString, ErrorKind, QByteArray, int>> scenarios{
            {"already current", ErrorKind::None, "previous", 1},
            {"current, but the executable is gone", ErrorKind::None, "previous", 2},
            {"leftovers of a dead install", ErrorKind::None, "next", 2},
            {"the swap fails halfway", ErrorKind::FileSystem, "previous", 2},
            {"an engine run holds the folder", ErrorKind::Internal, "previous", 1}};
        for (const bool runtime : {false, true}) {
            for (const auto &[scenario, failure, installed, downloads] : scenarios)
                QTest::addRow("%s: %s", runtime ? "runtime" : "engine", qPrintable(scenario))
                    << runtime << scenario << failure << installed << downloads;
        }
    }

    void laterInstall()
    {
        QFETCH(QString, scenario);
        QFETCH(ErrorKind, failure);
        QFETCH(QByteArray, installed);
        InstallScene scene(InstallScene::rowTool());
        scene.publishRelease(scene.tool, "previous");
        QVERIFY(scene.install().ok());
        const int writes = scene.prefs.writes;
        const QDir program(scene.installer().programFolder());
        QStringList entries{scene.tool.folderName};
        if (!scenario.contains("current"))
            scene.publishRelease(scene.tool, "next");
        if (scenario.endsWith("is gone"))
            QFile::remove(scene.installer().installedExecutable());
        if (scenario.startsWith("leftovers")) {
            QVERIFY(program.mkpath(scene.tool.folderName + "-DEAD.install/_internal"));
            QVERIFY(program.mkpath(scene.tool.folderName + "-OLD.backup"));
            QVERIFY(program.mkpath("unrelated.install"));
            entries << "unrelated.install";
        }
        // The old folder moves to its backup, then moving the staged build into place fails.
        if (scenario.startsWith("the swap"))
            scene.moveFolder = [](const QString &from, const QString &to) {
                return !from.endsWith(".install") && QDir().rename(from, to);
            };
        ToolFolderUsage usage;
        const ToolFolderUsage::Lease lease =
            scenario.startsWith("an engine run") ? usage.acquire() : ToolFolderUsage::Lease();

        QList<double> progress;
        const auto result = scene.install(&progress, &usage);
        QCOMPARE(result.ok() ? ErrorKind::None : result.error().kind, failure);
        QVERIFY(scene.installedScript().contains("echo " + installed));
        QTEST(scene.server.requestCount(scene.objectPath()), "downloads");
        entries.sort();
        QCOMPARE(scene.programFolderEntries(), entries);
        if (scenario == "already current") {
            QCOMPARE(progress, (QList<double>{0.05, 1.0}));
            QCOMPARE(scene.prefs.writes, writes + 1); // the date only
        }
    }

    void noLengthMeansNoDownloadProgress()
    {
        InstallScene scene;
        scene.publishRelease(scene.tool, "nolength");
        scene.server.script(scene.objectPath(), {{.omitContentLength = true}});
        QList<double> progress;
        QVERIFY(scene.install(&progress).ok());
        QCOMPARE(progress, (QList<double>{0.05, 0.9, 1.0}));
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
            writeScript(installer.installedExecutable(), {});
        }
        if (stored.isValid())
            scene.prefs.setValue(scene.tool.lastRefreshKey, stored);
        const QDateTime now(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
        QTEST(installer.needsRefresh(scene.prefs, now), "due");
        QCOMPARE(installer.requiresInstall(), !installed);
    }

    // Digests as the feed gives them ("digest" field) and as a companion checksum file holds
    // them, beyond the cases the installs above go through.
    void digests_data()
    {
        QTest::addColumn<bool>("isFile");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("verified");
        const QString hex = QString(64, u'a'), name = "asset.zip";
        QTest::newRow("other algorithm") << false << "sha512:" + hex << "";
        QTest::newRow("65") << false << "sha256:" + hex + "a" << QString();
        QTest::newRow("not hexadecimal") << false << "sha256:" + hex.left(63) + "g" << QString();
        QTest::newRow("file: digest and name") << true << hex.toUpper() + "  " + name + "\n" << hex;
        QTest::newRow("file: binary-mode name") << true << hex + " *" + name << hex;
        QTest::newRow("file: digest alone") << true << hex + "\n" << hex;
        QTest::newRow("file: two lines") << true << hex + "\n" + hex << "";
        QTest::newRow("file: prefixed") << true << "sha256:" + hex << "";
    }

    void digests()
    {
        QFETCH(bool, isFile);
        QFETCH(QString, text);
        const auto verified =
            isFile ? digestFromChecksumFile(text.toUtf8(), "asset.zip") : verifiedDigest(text);
        QTEST(verified.value_or(QString()), "verified");
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
