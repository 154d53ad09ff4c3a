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

// The engine and the runtime go through the one installer; a first install runs for both, the
// rest for the engine.
class TestToolInstaller : public QObject {
    Q_OBJECT

    QTemporaryDir m_elsewhere; // where escaping archive entries aim

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
    }

    void firstInstall()
    {
        QFETCH(bool, isRuntime);
        QFETCH(QString, digestSource);
        InstallScene scene(isRuntime ? runtimeReleaseTool() : engineReleaseTool());
        const QByteArray zip = engineZip(scene.tool.executableName, "fresh");
        const QString sha = InstallScene::sha256(zip);
        const QByteArray asset = scene.tool.assetName.toUtf8();
        if (digestSource == "file")
            scene.publish(scene.tool, zip, {}, {}, sha.toUpper().toLatin1() + "  " + asset + "\n");
        else
            scene.publish(scene.tool, zip,
                          "sha256:" + (digestSource == "upper" ? sha.toUpper() : sha));
        if (digestSource == "no length")
            scene.server.script(InstallScene::objectPath(scene.tool),
                                {{.omitContentLength = true}});
        const ToolInstaller installer = scene.installer();

        // A first install replaces nothing: a running engine (a packaged one) does not hold it up.
        const ToolFolderUsage::Lease lease = scene.usage.acquire();
        const auto result = scene.install();
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().message));
        QVERIFY(isExecutableFile(installer.installedExecutable())); // 0644 in the zip
        QVERIFY(scene.installedScript().contains("echo fresh"));
        const QDir tool(installer.toolDirectory());
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
        QCOMPARE(scene.prefs.value(scene.tool.digestKey), std::optional<QVariant>(sha));
        QVERIFY(scene.prefs.value(scene.tool.lastRefreshKey)->typeId() == QMetaType::QDateTime);
    }

    // Each refused release, and each feed or host that says no (a status on a path), leaves the
    // previous build, its digest and its date as they were.
    void refusedReleasesLeaveThePreviousBuild_data()
    {
        QTest::addColumn<QByteArray>("zip");
        QTest::addColumn<QString>("digest");      // null: none in the feed
        QTest::addColumn<QByteArray>("checksum"); // null: no checksum file
        QTest::addColumn<QString>("assetName");   // empty: the tool's own
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("status"); // 0: nothing fails, the release is bad
        const ReleaseTool t = engineReleaseTool();
        const auto row = [](const char *fault, const QByteArray &zip, const QString &digest,
                            const QByteArray &checksum = {}, const QString &asset = {},
                            const QString &failing = {}, int status = 0) {
            QTest::newRow(fault) << zip << digest << checksum << asset << failing << status;
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
        row("archive 404", zip, good, {}, {}, object, 404);
    }

    void refusedReleasesLeaveThePreviousBuild()
    {
        QFETCH(QByteArray, zip);
        QFETCH(QString, digest);
        QFETCH(QByteArray, checksum);
        QFETCH(QString, assetName);
        QFETCH(QString, failing);
        QFETCH(int, status);
        InstallScene scene;
        scene.publishRelease(scene.tool, "previous");
        QVERIFY(scene.install().ok());
        const auto digestBefore = scene.prefs.value(scene.tool.digestKey);
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
        QCOMPARE(scene.prefs.value(scene.tool.digestKey), digestBefore);
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
        QTest::addColumn<int>("setup");
        QTest::addColumn<ErrorKind>("failure"); // None: it succeeds
        QTest::addColumn<QString>("installed"); // the build in place afterwards
        QTest::addColumn<int>("downloads");     // archive requests in all
        QTest::newRow("already current") << int(Nothing) << ErrorKind::None << "previous" << 1;
        QTest::newRow("current, but the executable is gone")
            << int(ExecutableGone) << ErrorKind::None << "previous" << 2;
        QTest::newRow("leftovers of a dead install")
            << int(NewRelease | Leftovers) << ErrorKind::None << "next" << 2;
        QTest::newRow("the swap fails halfway")
            << int(NewRelease | SwapFails) << ErrorKind::FileSystem << "previous" << 2;
        QTest::newRow("an engine run holds the folder")
            << int(NewRelease | RunHoldsFolder) << ErrorKind::Internal << "previous" << 1;
    }

    void laterInstall()
    {
        QFETCH(int, setup);
        QFETCH(ErrorKind, failure);
        QFETCH(QString, installed);
        InstallScene scene;
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
        const ToolFolderUsage::Lease lease =
            setup & RunHoldsFolder ? scene.usage.acquire() : ToolFolderUsage::Lease();

        const auto result = scene.install();
        QCOMPARE(result.ok() ? ErrorKind::None : result.error().kind, failure);
        QVERIFY(scene.installedScript().contains("echo " + installed.toUtf8()));
        QTEST(scene.server.requestCount(InstallScene::objectPath(scene.tool)), "downloads");
        entries.sort();
        QCOMPARE(folderEntries(program.path()), entries);
        if (setup == Nothing)
            QCOMPARE(scene.prefs.writes, writes + 1); // the date only
    }
};

TOVRIN_TEST(TestToolInstaller);
#include "test_tool_installer.moc"
