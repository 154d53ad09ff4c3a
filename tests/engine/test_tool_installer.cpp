#include "engine/release_feed.h"
#include "install_scene.h"
#include "support/test_main.h"

#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

// What may be in the way of a later install.
enum Setup {
    Nothing = 0,
    NewRelease = 1,
    ExecutableGone = 2,
    Leftovers = 4,
    SwapFails = 8,
    RunHoldsFolder = 16
};

// The engine and the runtime go through the one installer; the tests that both share run for
// both.
class TestToolInstaller : public QObject {
    Q_OBJECT

    QTemporaryDir m_elsewhere; // where escaping archive entries aim

    static QString readDigest(const InstallScene &scene)
    {
        return scene.prefs.value(scene.tool.digestKey).value_or(QVariant()).toString();
    }
    static int mode(const QString &path)
    {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                       : -1;
    }

private slots:
    void firstInstall_data()
    {
        QTest::addColumn<bool>("isRuntime");
        QTest::addColumn<QString>("digestSource");
        QTest::newRow("engine, digest in the feed") << false << "feed";
        QTest::newRow("engine, archive without a length") << false << "no length";
        QTest::newRow("runtime, upper-case digits in the feed") << true << "upper";
        QTest::newRow("runtime, checksum file: upper-case digits and name") << true << "file";
        QTest::newRow("runtime, checksum file: binary-mode name") << true << "binary";
        QTest::newRow("engine, checksum file: digest alone") << false << "alone";
    }

    void firstInstall()
    {
        QFETCH(QString, digestSource);
        InstallScene scene(InstallScene::rowTool());
        const QByteArray zip = engineZip(scene.tool.executableName, "fresh");
        const QString sha = InstallScene::sha256(zip);
        const QByteArray asset = scene.tool.assetName.toUtf8();
        if (digestSource == "file")
            scene.publish(scene.tool, zip, {}, {}, sha.toUpper().toLatin1() + "  " + asset + "\n");
        else if (digestSource == "binary")
            scene.publish(scene.tool, zip, {}, {}, sha.toLatin1() + " *" + asset);
        else if (digestSource == "alone")
            scene.publish(scene.tool, zip, {}, {}, sha.toLatin1() + "\n");
        else
            scene.publish(scene.tool, zip,
                          "sha256:" + (digestSource == "upper" ? sha.toUpper() : sha));
        const QString object = InstallScene::objectPath(scene.tool);
        if (digestSource == "no length")
            scene.server.script(object, {{.omitContentLength = true}});
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
        const QDir tool(installer.toolDirectory());
        QFile helper(tool.filePath("_internal/base_library.txt"));
        QVERIFY(helper.open(QIODevice::ReadOnly));
        QCOMPARE(helper.readAll(), "helper fresh");
        // Permission bits are kept; set-id bits never come from an archive. Links inside the
        // release still point inside it once the folder is in place.
        QCOMPARE(mode(tool.filePath("_internal/helper")), 0755);
        QCOMPARE(mode(tool.filePath("_internal/notes.txt")), 0640);
        QCOMPARE(QFileInfo(tool.filePath("_internal/alias")).symLinkTarget(),
                 tool.filePath("_internal/base_library.txt"));
        QCOMPARE(QFileInfo(tool.filePath("_internal/up")).symLinkTarget(),
                 installer.installedExecutable());
        QCOMPARE(folderEntries(installer.programFolder()), QStringList{scene.tool.folderName});
        QVERIFY(folderEntries(scene.temp).isEmpty()); // the archive is gone
        QCOMPARE(readDigest(scene), sha);
        QVERIFY(scene.prefs.value(scene.tool.lastRefreshKey)->typeId() == QMetaType::QDateTime);

        // 0.05, the download rising through 0.10…0.85 ending at 0.85 (none without a length),
        // then 0.9 and 1.0.
        if (digestSource == "no length")
            QCOMPARE(progress, (QList<double>{0.05, 0.9, 1.0}));
        QVERIFY(progress.size() >= 3);
        QCOMPARE(progress.first(), 0.05);
        QCOMPARE(progress.mid(progress.size() - 2), (QList<double>{0.9, 1.0}));
        for (qsizetype i = 1; i < progress.size(); ++i)
            QVERIFY(progress[i] > progress[i - 1]);
        for (qsizetype i = 1; i < progress.size() - 2; ++i)
            QVERIFY(progress[i] >= 0.1 && progress[i] <= 0.85);
        if (digestSource != "no length")
            QCOMPARE(progress.at(progress.size() - 3), 0.85);

        const auto feed = scene.server.requests(scene.tool.feedPath).first();
        QCOMPARE(feed.header("Accept"), "application/vnd.github+json");
        QCOMPARE(feed.header("User-Agent"), "Tovrin/3");
        QCOMPARE(feed.header("X-GitHub-Api-Version"), "2026-03-10");
        QCOMPARE(scene.server.requests(object).first().header("Cache-Control"), "no-cache");
    }

    // Each refused release, and each feed or host that says no (a status on a path), leaves the
    // previous build, its digest and its date as they were.
    void refusedReleasesLeaveThePreviousBuild_data()
    {
        QTest::addColumn<bool>("isRuntime");
        QTest::addColumn<QByteArray>("zip");
        QTest::addColumn<QString>("digest");      // null: none in the feed
        QTest::addColumn<QByteArray>("checksum"); // null: no checksum file
        QTest::addColumn<QString>("assetName");   // empty: the tool's own
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("status"); // 0: nothing fails, the release is bad
        for (const bool runtime : {false, true}) {
            const ReleaseTool t = runtime ? runtimeReleaseTool() : engineReleaseTool();
            const auto row = [&](const char *fault, const QByteArray &zip, const QString &digest,
                                 const QByteArray &checksum = {}, const QString &asset = {},
                                 const QString &failing = {}, int status = 0) {
                QTest::addRow("%s: %s", runtime ? "runtime" : "engine", fault)
                    << runtime << zip << digest << checksum << asset << failing << status;
            };
            const auto badZip = [&](const char *fault, const QByteArray &zip) {
                row(fault, zip, "sha256:" + InstallScene::sha256(zip));
            };
            const auto beside = [&](const ZipEntry &e) {
                return buildZip({ZipEntry::file(t.executableName, "x"), e});
            };
            const QByteArray zip = engineZip(t.executableName, "next");
            const QString sha = InstallScene::sha256(zip), good = "sha256:" + sha;
            const QString object = InstallScene::objectPath(t);
            row("digest mismatch", zip, "sha256:" + InstallScene::sha256("other bytes"));
            row("upper-case prefix", zip, "SHA256:" + sha);
            row("63 digits", zip, "sha256:" + sha.left(63));
            row("no digest and no checksum file", zip, {});
            row("malformed digest beside a good checksum file", zip, "sha256:" + sha.left(63),
                sha.toLatin1());
            row("sha512 digest", zip, "sha512:" + sha + sha);
            row("65 digits", zip, "sha256:" + sha + "a");
            row("not hexadecimal", zip, "sha256:" + sha.left(63) + "g");
            row("checksum file of another asset", zip, {}, sha.toLatin1() + "  other.zip");
            row("checksum file of two lines", zip, {}, sha.toLatin1() + "\n" + sha.toLatin1());
            row("prefixed checksum file", zip, {}, "sha256:" + sha.toLatin1());
            row("missing asset", zip, good, {}, "other.zip");
            badZip("dot-dot entry", beside(ZipEntry::file("../../escaped", "x")));
            badZip("absolute entry", beside(ZipEntry::file(m_elsewhere.filePath("escaped"), "x")));
            badZip("link to an absolute path",
                   beside(ZipEntry::symlink("_internal", m_elsewhere.path())));
            badZip("link climbing out", beside(ZipEntry::symlink("_internal/up", "../..")));
            badZip("no executable", buildZip({ZipEntry::file("README", "x")}));
            badZip("not a zip", "this is not an archive");
            row("checksum file 404", zip, {}, sha.toLatin1(), {}, object + ".sha256sum", 404);
            row("feed 403", zip, good, {}, {}, t.feedPath, 403);
            row("feed 500", zip, good, {}, {}, t.feedPath, 500);
            row("archive 404", zip, good, {}, {}, object, 404);
        }
    }

    void refusedReleasesLeaveThePreviousBuild()
    {
        QFETCH(QByteArray, zip);
        QFETCH(QString, digest);
        QFETCH(QByteArray, checksum);
        QFETCH(QString, assetName);
        QFETCH(QString, failing);
        QFETCH(int, status);
        InstallScene scene(InstallScene::rowTool());
        scene.publishRelease(scene.tool, "previous");
        QVERIFY(scene.install().ok());
        const QString digestBefore = readDigest(scene);
        const auto dateBefore = scene.prefs.value(scene.tool.lastRefreshKey);
        scene.publish(scene.tool, zip, digest.isNull() ? std::nullopt : std::optional(digest),
                      assetName, checksum.isNull() ? std::nullopt : std::optional(checksum));
        if (status)
            scene.server.script(failing, {{.status = status, .body = "{}"}});

        const auto result = scene.install();
        QVERIFY(!result.ok());
        QVERIFY2(status ? InstallErrors::isFeedUnavailable(result.error())
                        : InstallErrors::isBadRelease(result.error()),
                 qPrintable(result.error().message));
        QVERIFY(scene.installedScript().contains("echo previous"));
        QCOMPARE(readDigest(scene), digestBefore);
        QCOMPARE(scene.prefs.value(scene.tool.lastRefreshKey), dateBefore);
        QCOMPARE(folderEntries(scene.installer().programFolder()),
                 QStringList{scene.tool.folderName});
        QVERIFY(folderEntries(scene.temp).isEmpty());
        for (const QString &escaped : {m_elsewhere.filePath("escaped"),
                                       scene.dir.filePath("escaped"), scene.support + "/escaped"})
            QVERIFY2(!QFileInfo::exists(escaped), qPrintable(escaped));
    }

    // A later install over a previous build ("previous"), with a new release ("next")
    // published or not.
    void laterInstall_data()
    {
        QTest::addColumn<bool>("isRuntime");
        QTest::addColumn<int>("setup");
        QTest::addColumn<ErrorKind>("failure");    // None: it succeeds
        QTest::addColumn<QByteArray>("installed"); // the build in place afterwards
        QTest::addColumn<int>("downloads");        // archive requests in all
        const QList<std::tuple<const char *, int, ErrorKind, QByteArray, int>> scenarios{
            {"already current", Nothing, ErrorKind::None, "previous", 1},
            {"current, but the executable is gone", ExecutableGone, ErrorKind::None, "previous", 2},
            {"leftovers of a dead install", NewRelease | Leftovers, ErrorKind::None, "next", 2},
            {"the swap fails halfway", NewRelease | SwapFails, ErrorKind::FileSystem, "previous",
             2},
            {"an engine run holds the folder", NewRelease | RunHoldsFolder, ErrorKind::Internal,
             "previous", 1}};
        for (const bool runtime : {false, true}) {
            for (const auto &[name, setup, failure, installed, downloads] : scenarios)
                QTest::addRow("%s: %s", runtime ? "runtime" : "engine", name)
                    << runtime << setup << failure << installed << downloads;
        }
    }

    void laterInstall()
    {
        QFETCH(int, setup);
        QFETCH(ErrorKind, failure);
        QFETCH(QByteArray, installed);
        InstallScene scene(InstallScene::rowTool());
        scene.publishRelease(scene.tool, "previous");
        QVERIFY(scene.install().ok());
        const int writes = scene.prefs.writes;
        const QDir program(scene.installer().programFolder());
        QStringList entries{scene.tool.folderName};
        if (setup & NewRelease)
            scene.publishRelease(scene.tool, "next");
        if (setup & ExecutableGone)
            QFile::remove(scene.installer().installedExecutable());
        if (setup & Leftovers) {
            QVERIFY(program.mkpath(scene.tool.folderName + "-DEAD.install/_internal"));
            QVERIFY(program.mkpath(scene.tool.folderName + "-OLD.backup"));
            QVERIFY(program.mkpath("unrelated.install"));
            entries << "unrelated.install";
        }
        // The old folder moves to its backup, then moving the staged build into place fails.
        if (setup & SwapFails)
            scene.moveFolder = [](const QString &from, const QString &to) {
                return !from.endsWith(".install") && QDir().rename(from, to);
            };
        ToolFolderUsage usage;
        const ToolFolderUsage::Lease lease =
            setup & RunHoldsFolder ? usage.acquire() : ToolFolderUsage::Lease();

        QList<double> progress;
        const auto result = scene.install(&progress, &usage);
        QCOMPARE(result.ok() ? ErrorKind::None : result.error().kind, failure);
        QVERIFY(scene.installedScript().contains("echo " + installed));
        QTEST(scene.server.requestCount(InstallScene::objectPath(scene.tool)), "downloads");
        entries.sort();
        QCOMPARE(folderEntries(program.path()), entries);
        if (setup == Nothing) {
            QCOMPARE(progress, (QList<double>{0.05, 1.0}));
            QCOMPARE(scene.prefs.writes, writes + 1); // the date only
        }
    }

    // Due a day after the last success (a date in the future is not due), when nothing valid
    // is stored, or when nothing is installed.
    void refreshPolicy_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("due");
        QTest::newRow("a second short of a day") << true << QVariant(kNow.addSecs(-86399)) << false;
        QTest::newRow("exactly a day") << true << QVariant(kNow.addSecs(-86400)) << true;
        QTest::newRow("in the future") << true << QVariant(kNow.addSecs(3600)) << false;
        QTest::newRow("never") << true << QVariant() << true;
        QTest::newRow("not a date") << true << QVariant(QStringLiteral("yesterday")) << true;
        QTest::newRow("nothing installed") << false << QVariant(kNow) << true;
    }

    void refreshPolicy()
    {
        QFETCH(bool, installed);
        QFETCH(QVariant, stored);
        InstallScene scene;
        const ToolInstaller installer = scene.installer();
        if (installed && QDir().mkpath(installer.toolDirectory()))
            writeScript(installer.installedExecutable(), {});
        if (stored.isValid())
            scene.prefs.setValue(scene.tool.lastRefreshKey, stored);
        QTEST(installer.needsRefresh(scene.prefs, kNow), "due");
        QCOMPARE(installer.requiresInstall(), !installed);
    }

private:
    static inline const QDateTime kNow{QDate(2026, 1, 15), QTime(12, 0), Qt::UTC};
};

TOVRIN_TEST(TestToolInstaller);
#include "test_tool_installer.moc"
