#include "engine/archive_extractor.h"
#include "engine/release_feed.h"
#include "support/test_main.h"
#include "zip_builder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestArchiveExtractor : public QObject {
    Q_OBJECT

private:
    // Writes the archive beside an empty staging folder inside a fresh temporary folder.
    struct Scene {
        QTemporaryDir dir;
        QString archive = dir.filePath("release.zip");
        QString staging = dir.filePath("stage");
        explicit Scene(const QByteArray &zip)
        {
            QFile file(archive);
            if (!file.open(QIODevice::WriteOnly))
                qFatal("cannot write archive");
            file.write(zip);
            file.close();
            QDir().mkdir(staging);
        }
        // Everything in the temporary folder: nothing may appear beside the staging folder.
        QStringList outside() const
        {
            return QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        }
    };

private slots:
    void unpacksFilesFoldersAndInnerLinks()
    {
        Scene scene(buildZip({ZipEntry::folder("_internal/"),
                              ZipEntry::file("_internal/lib.txt", "library"),
                              ZipEntry::file("yt-dlp_linux", "#!/bin/sh\n", 04755),
                              ZipEntry::file("notes.txt", "read me", 0640),
                              ZipEntry::symlink("_internal/alias", "lib.txt"),
                              ZipEntry::symlink("_internal/up", "../notes.txt")},
                             true));
        QVERIFY(extractZipArchive(scene.archive, scene.staging, CancelToken()).ok());
        const QDir stage(scene.staging);
        QFile lib(stage.filePath("_internal/lib.txt"));
        QVERIFY(lib.open(QIODevice::ReadOnly));
        QCOMPARE(lib.readAll(), "library");
        const QFileInfo exe(stage.filePath("yt-dlp_linux"));
        QVERIFY(exe.isExecutable());
        // Permission bits are kept; set-id bits never come from an archive.
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(exe.filePath()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0755));
        QCOMPARE(::stat(QFile::encodeName(stage.filePath("notes.txt")).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0640));
        QVERIFY(QFileInfo(stage.filePath("_internal/alias")).isSymLink());
        QCOMPARE(QFileInfo(stage.filePath("_internal/up")).symLinkTarget(),
                 stage.filePath("notes.txt"));
        QCOMPARE(scene.outside(), (QStringList{"release.zip", "stage"}));
    }

    void cancelStopsUnpacking()
    {
        Scene scene(buildZip({ZipEntry::file("a", "x")}));
        CancelToken cancel;
        cancel.cancel();
        QVERIFY(extractZipArchive(scene.archive, scene.staging, cancel).error().isCancelled());
    }

    void staysInside_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("inside");
        QTest::newRow("plain") << QString() << "a/b" << true;
        QTest::newRow("up and back in") << QString("x/y") << "../../z" << true;
        QTest::newRow("one step too many") << QString("x/y") << "../../../z" << false;
        QTest::newRow("dot steps") << QString() << "./a/./b" << true;
        QTest::newRow("absolute") << QString("x") << "/etc/passwd" << false;
        QTest::newRow("up from the top") << QString() << ".." << false;
    }

    void staysInside()
    {
        QFETCH(QString, base);
        QFETCH(QString, name);
        QTEST(::staysInside(base, name), "inside");
    }
};

TOVRIN_TEST(TestArchiveExtractor);
#include "test_archive_extractor.moc"
