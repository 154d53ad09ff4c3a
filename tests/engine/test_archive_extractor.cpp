#include "engine/archive_extractor.h"
#include "support/test_main.h"
#include "zip_builder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// Unpacking alone; archives that try to escape are refused by the installer's own tests.
class TestArchiveExtractor : public QObject {
    Q_OBJECT

    static int mode(const QString &path)
    {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                       : -1;
    }

private slots:
    void unpacksFilesFoldersAndInnerLinks()
    {
        QTemporaryDir dir;
        const QString archive = dir.filePath("release.zip"), staging = dir.filePath("stage");
        QFile file(archive);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(buildZip({ZipEntry::folder("_internal/"),
                             ZipEntry::file("_internal/lib.txt", "library"),
                             ZipEntry::file("yt-dlp_linux", "#!/bin/sh\n", 04755),
                             ZipEntry::file("notes.txt", "read me", 0640),
                             ZipEntry::symlink("_internal/alias", "lib.txt"),
                             ZipEntry::symlink("_internal/up", "../notes.txt")},
                            true));
        file.close();
        QVERIFY(QDir().mkdir(staging));
        CancelToken cancelled;
        cancelled.cancel();
        QVERIFY(extractZipArchive(archive, staging, cancelled).error().isCancelled());

        QVERIFY(extractZipArchive(archive, staging, CancelToken()).ok());
        const QDir stage(staging);
        QFile lib(stage.filePath("_internal/lib.txt"));
        QVERIFY(lib.open(QIODevice::ReadOnly));
        QCOMPARE(lib.readAll(), "library");
        // Permission bits are kept; set-id bits never come from an archive.
        QCOMPARE(mode(stage.filePath("yt-dlp_linux")), 0755);
        QCOMPARE(mode(stage.filePath("notes.txt")), 0640);
        QVERIFY(QFileInfo(stage.filePath("_internal/alias")).isSymLink());
        QCOMPARE(QFileInfo(stage.filePath("_internal/alias")).symLinkTarget(),
                 stage.filePath("_internal/lib.txt"));
        QCOMPARE(QFileInfo(stage.filePath("_internal/up")).symLinkTarget(),
                 stage.filePath("notes.txt"));
        // Nothing appears beside the staging folder.
        QCOMPARE(
            QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
            (QStringList{"release.zip", "stage"}));
    }
};

TOVRIN_TEST(TestArchiveExtractor);
#include "test_archive_extractor.moc"
