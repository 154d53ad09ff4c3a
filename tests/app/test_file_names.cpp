#include "app/file_names.h"
#include "support/test_main.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

class TestFileNames : public QObject {
    Q_OBJECT

private slots:
    void safeNames_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("separators") << QString("a/b:c") << "a_b_c";
        QTest::newRow("control and format characters")
            << QString("x\u0001y\u007f\tz\u200e\ufeff") << "x_y__z__";
        QTest::newRow("spaces and dots trimmed") << QString("  . report.pdf. . ") << "report.pdf";
        QTest::newRow("only dots and spaces") << QString(". .. .") << "quenlow";
        QTest::newRow("inner dots and spaces kept") << QString("a . b") << "a . b";
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

    // Names asked for in turn ("/" at the end: a folder) and the free ones given. On disk: a
    // folder "Docs", files "archive.tar.gz", "Report.pdf.part", "notes", "notes (2)" and a
    // dangling link "link.txt". Reserved names count as taken too (by case and composition, a
    // file with its ".part"); nothing is ever created.
    void freeNames_data()
    {
        QTest::addColumn<bool>("reserve");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("given");
        QTest::newRow("on disk") << false
                                 << "Docs/; New/; New/; archive.tar.gz; Report.pdf; notes; link.txt"
                                 << "Docs (2); New; New; archive.tar (2).gz; Report (2).pdf; "
                                    "notes (3); link (2).txt";
        QTest::newRow("reserved") << true
                                  << "Photo.JPG; photo.jpg; caf\u00e9.txt; cafe\u0301.txt; a.bin; "
                                     "A.BIN.PART; New/; NEW/; notes"
                                  << "Photo.JPG; photo (2).jpg; caf\u00e9.txt; cafe\u0301 (2).txt; "
                                     "a.bin; A.BIN (2).PART; "
                                     "New; NEW (2); notes (3)";
    }

    void freeNames()
    {
        QFETCH(bool, reserve);
        QFETCH(QString, asked);
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath("Docs"));
        for (const char *name : {"archive.tar.gz", "Report.pdf.part", "notes", "notes (2)"})
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("link.txt")));
        const auto entries = [&] {
            return QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        };
        const QStringList before = entries();
        QSet<QString> reserved;
        QStringList given;
        for (const QString &name : asked.split("; ")) {
            const bool folder = name.endsWith('/');
            const QString path = dir.filePath(folder ? name.chopped(1) : name);
            const QString free =
                folder ? (reserve ? reserveDirectory(path, reserved) : uniqueDirectory(path))
                       : (reserve ? reserveFile(path, reserved) : uniqueFile(path));
            given.append(QDir(dir.path()).relativeFilePath(free));
        }
        QTEST(given.join("; "), "given");
        QCOMPARE(entries(), before);
    }

    // A finished file never replaces one: a taken target refuses the move and keeps both files.
    void movesWithoutReplacing()
    {
        QTemporaryDir work;
        QTemporaryDir dir;
        const auto write = [](const QString &path, const QByteArray &data) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(data) == data.size());
        };
        const auto read = [](const QString &path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        write(work.filePath("a.mp4"), "new");
        write(dir.filePath("a.mp4"), "old");
        QCOMPARE(renameWithoutReplacing(work.filePath("a.mp4"), dir.filePath("a.mp4")), EEXIST);
        QCOMPARE(read(dir.filePath("a.mp4")), QByteArray("old"));
        QCOMPARE(read(work.filePath("a.mp4")), QByteArray("new"));
        QCOMPARE(renameWithoutReplacing(work.filePath("a.mp4"), dir.filePath("a (2).mp4")), 0);
        QCOMPARE(read(dir.filePath("a (2).mp4")), QByteArray("new"));
        QVERIFY(!QFile::exists(work.filePath("a.mp4")));
    }
};

TOVRIN_TEST(TestFileNames);
#include "test_file_names.moc"
