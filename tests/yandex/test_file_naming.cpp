#include "support/test_main.h"
#include "yandex/file_naming.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

} // namespace

class TestFileNaming : public QObject {
    Q_OBJECT

private slots:
    void safeNames_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("separators") << QString("a/b:c") << "a_b_c";
        QTest::newRow("control characters") << QString("x\u0001y\u007f\tz") << "x_y__z";
        QTest::newRow("format characters") << QString("left\u200eright\ufeff") << "left_right_";
        QTest::newRow("spaces and dots trimmed") << QString("  . report.pdf. . ") << "report.pdf";
        QTest::newRow("only dots and spaces") << QString(". .. .") << "quenlow";
        QTest::newRow("empty") << QString("") << "quenlow";
        QTest::newRow("inner dots and spaces kept") << QString("a . b") << "a . b";
        QTest::newRow("300 characters") << QString(300, 'a') << QString(180, 'a');
        QTest::newRow("300 bytes") << QString(150, QChar(0x0436)) << QString(100, QChar(0x0436));
        QTest::newRow("long name keeps its extension")
            << QString(300, 'a') + ".pdf" << QString(176, 'a') + ".pdf";
        QTest::newRow("long Cyrillic name keeps its extension")
            << QString(150, QChar(0x0436)) + ".txt" << QString(98, QChar(0x0436)) + ".txt";
        QTest::newRow("an extension longer than 16 is not kept")
            << QString(190, 'a') + "." + QString(20, 'e') << QString(180, 'a');
        const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80"); // 4 bytes, 2 UTF-16 units
        QTest::newRow("emoji never split")
            << QString(170, 'a') + grin.repeated(10) << QString(170, 'a') + grin.repeated(7);
        QTest::newRow("accents never split from their letter")
            << QString("e\u0301").repeated(190) << QString("e\u0301").repeated(66);
    }

    void safeNames()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const QString name = safeName(input);
        QCOMPARE(name, expected);
        QVERIFY(name.toUtf8().size() <= 200);
    }

    void freeNamesOnDisk()
    {
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath("Docs"));
        touch(dir.filePath("archive.tar.gz"));
        touch(dir.filePath("Report.pdf.part"));
        touch(dir.filePath("notes"));
        touch(dir.filePath("notes (2)"));

        QCOMPARE(uniqueDirectory(dir.filePath("Docs")), dir.filePath("Docs (2)"));
        QCOMPARE(uniqueDirectory(dir.filePath("New")), dir.filePath("New"));
        QCOMPARE(uniqueFile(dir.filePath("archive.tar.gz")), dir.filePath("archive.tar (2).gz"));
        QCOMPARE(uniqueFile(dir.filePath("Report.pdf")), dir.filePath("Report (2).pdf"));
        QCOMPARE(uniqueFile(dir.filePath("notes")), dir.filePath("notes (3)"));
        // A dangling symbolic link takes its name too.
        QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("link.txt")));
        QCOMPARE(uniqueFile(dir.filePath("link.txt")), dir.filePath("link (2).txt"));
    }

    void reservedNamesCollideByCaseAndComposition()
    {
        QTemporaryDir dir;
        QSet<QString> reserved;
        QCOMPARE(uniqueFile(dir.filePath("Photo.JPG"), reserved), dir.filePath("Photo.JPG"));
        QCOMPARE(uniqueFile(dir.filePath("photo.jpg"), reserved), dir.filePath("photo (2).jpg"));

        const QString composed = QString::fromUtf8("caf\xC3\xA9.txt");
        const QString decomposed = QString::fromUtf8("cafe\xCC\x81.txt");
        QCOMPARE(uniqueFile(dir.filePath(composed), reserved), dir.filePath(composed));
        QCOMPARE(uniqueFile(dir.filePath(decomposed), reserved),
                 dir.filePath(QString::fromUtf8("cafe\xCC\x81 (2).txt")));

        // A file's ".part" companion is reserved with it.
        QCOMPARE(uniqueFile(dir.filePath("a.bin"), reserved), dir.filePath("a.bin"));
        QCOMPARE(uniqueFile(dir.filePath("A.BIN.PART"), reserved), dir.filePath("A.BIN (2).PART"));

        QCOMPARE(uniqueDirectory(dir.filePath("Docs"), reserved), dir.filePath("Docs"));
        QCOMPARE(uniqueDirectory(dir.filePath("DOCS"), reserved), dir.filePath("DOCS (2)"));
        // Reserving never touches the disk.
        QVERIFY(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }
};

TOVRIN_TEST(TestFileNaming);
#include "test_file_naming.moc"
