#include "support/test_main.h"
#include "video/file_placement.h"
#include "video/media_merger.h"
#include "video/merged_file_name.h"
#include "video/video_link.h"
#include "video/video_progress.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using Snapshot = std::optional<VideoProgressSnapshot>;

class TestVideoParsing : public QObject {
    Q_OBJECT

    static void touch(const QString &path, const QByteArray &bytes = "x")
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

private slots:
    void normalisesLinks_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected"); // empty: not a supported link
        QTest::newRow("short link with spaces and time offset")
            << QString("  https://youtu.be/abc123?t=42 \n")
            << "https://www.youtube.com/watch?v=abc123";
        QTest::newRow("short link without id") << QString("https://youtu.be/") << "";
        QTest::newRow("short link host is exact") << QString("https://m.youtu.be/abc") << "";
        QTest::newRow("shorts page") << QString("https://youtube.com/shorts/xyz?feature=share")
                                     << "https://www.youtube.com/watch?v=xyz";
        QTest::newRow("live page")
            << QString("http://m.youtube.com/live/L1") << "https://www.youtube.com/watch?v=L1";
        QTest::newRow("shorts alone stays")
            << QString("https://www.youtube.com/shorts") << "https://www.youtube.com/shorts";
        QTest::newRow("watch page unchanged") << QString("https://www.youtube.com/watch?v=a&list=b")
                                              << "https://www.youtube.com/watch?v=a&list=b";
        QTest::newRow("platform subdomain")
            << QString("https://player.vimeo.com/video/1") << "https://player.vimeo.com/video/1";
        QTest::newRow("platform upper-case host")
            << QString("https://VK.com/video1") << "https://vk.com/video1";
        QTest::newRow("t.co") << QString("https://t.co/x") << "https://t.co/x";
        QTest::newRow("domain text without dot") << QString("https://notvimeo.com/1") << "";
        QTest::newRow("youtube look-alike") << QString("https://myyoutube.com/watch?v=1") << "";
        QTest::newRow("other scheme") << QString("ftp://youtube.com/watch?v=1") << "";
        QTest::newRow("unknown host") << QString("https://example.com/video.mp4") << "";
        QTest::newRow("no host") << QString("vimeo.com/1") << "";
        QTest::newRow("empty") << QString("   ") << "";
    }
    void normalisesLinks()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const std::optional<QString> result = normalizeVideoLink(input);
        QCOMPARE(result.value_or(QString()), expected);
    }

    void parsesProgressLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Snapshot>("expected");
        QTest::newRow("all known") << QString("tovrin:1024|NA|4096") << Snapshot({1024, 4096});
        QTest::newRow("total wins") << QString("tovrin:5|10|20") << Snapshot({5, 10});
        QTest::newRow("no total") << QString("tovrin:1024|0|NA") << Snapshot({1024, std::nullopt});
        QTest::newRow("no downloaded count") << QString("tovrin:NA|100|100") << Snapshot();
        QTest::newRow("two fields") << QString("tovrin:1|2") << Snapshot();
        QTest::newRow("four fields") << QString("tovrin:1|2|3|4") << Snapshot();
        QTest::newRow("text before the marker, spaces")
            << QString("[x] tovrin: 7 | 9 |NA") << Snapshot({7, 9});
        QTest::newRow("fraction") << QString("tovrin:1.5|2|3") << Snapshot();
        QTest::newRow("negative") << QString("tovrin:-1|2|3") << Snapshot();
        QTest::newRow("plus sign") << QString("tovrin:+8|NA|NA") << Snapshot({8, std::nullopt});
        QTest::newRow("marker case") << QString("TOVRIN:1|2|3") << Snapshot();
    }
    void parsesProgressLines()
    {
        QFETCH(QString, line);
        QFETCH(Snapshot, expected);
        QCOMPARE(parseProgressLine(line), expected);
    }

    void namesMergedFiles_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("expected");
        QTest::newRow("forbidden characters")
            << QString("a/b:c?d") << QString("X1") << "a-b-c-d [X1]";
        QTest::newRow("only forbidden and spaces")
            << QString(" */ | ") << QString("X1") << "video [X1]";
        QTest::newRow("nothing left") << QString("  \n ") << QString("X1") << "video [X1]";
        QTest::newRow("dash kept inside") << QString("a - b") << QString("X1") << "a - b [X1]";
        QTest::newRow("empty id") << QString("Clip") << QString("") << "Clip [media]";
        QTest::newRow("control character") << QString("A\u0007B") << QString("i") << "A_B [i]";
    }
    void namesMergedFiles()
    {
        QFETCH(QString, title);
        QFETCH(QString, id);
        QFETCH(QString, expected);
        QCOMPARE(mergedBaseName(title, id, 3), expected);
    }

    void longTitlesFitTheFileSystem()
    {
        const QString title = QString(300, QChar(0x0416)); // Cyrillic, two bytes each
        const QString id = QString(100, u'i');
        const QString name = mergedBaseName(title, id, 3);
        // Room is left for " (n)" and the hidden staging name.
        QVERIFY((name + " (9999).mp4").toUtf8().size() <= 255);
        QVERIFY(name.startsWith(QString(10, QChar(0x0416))));
        QTemporaryDir dir;
        touch(dir.filePath(name + " (9999).mp4"));
        QVERIFY(QFile::exists(dir.filePath(name + " (9999).mp4")));
    }

    void picksFreeNames()
    {
        QTemporaryDir dir;
        touch(dir.filePath("clip.mkv"));
        touch(dir.filePath("clip (2).mkv"));
        QCOMPARE(MediaMerger::availableMKVURL(dir.filePath("clip.mp4")),
                 dir.filePath("clip (3).mkv"));
        touch(dir.filePath("T [i].mp4"));
        const QSet<QString> taken{FilePlacement::key(dir.filePath("T [i] (2).mp4"))};
        QCOMPARE(FilePlacement::firstFreePath(dir.filePath("T [i].mp4"), taken),
                 dir.filePath("T [i] (3).mp4"));
    }

    void movesWithoutReplacing()
    {
        QTemporaryDir work;
        QTemporaryDir target;
        touch(work.filePath("a.mp4"), "new");
        touch(target.filePath("a.mp4"), "old");
        const Result<QString> moved =
            FilePlacement::moveWithoutReplacing(work.filePath("a.mp4"), target.filePath("a.mp4"));
        QVERIFY(moved.ok());
        QCOMPARE(moved.value(), target.filePath("a (2).mp4"));
        QFile old(target.filePath("a.mp4"));
        QVERIFY(old.open(QIODevice::ReadOnly) && old.readAll() == "old");
        QVERIFY(!QFile::exists(work.filePath("a.mp4")));
        QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

        // A destination that cannot be written leaves nothing behind and keeps the source.
        touch(work.filePath("b.mp4"), "b");
        QVERIFY(!FilePlacement::moveWithoutReplacing(work.filePath("b.mp4"),
                                                     target.filePath("missing/b.mp4"))
                     .ok());
        QVERIFY(QFile::exists(work.filePath("b.mp4")));
    }

    void buildsFFmpegArguments()
    {
        const QStringList upper = MediaMerger::arguments("v.webm", "a.m4a", "/x/OUT.MP4");
        QCOMPARE(upper.mid(upper.size() - 3),
                 QStringList({"-movflags", "+faststart", "/x/OUT.MP4"}));
        QCOMPARE(upper.mid(0, 14),
                 QStringList({"-hide_banner", "-loglevel", "error", "-y", "-i", "v.webm", "-i",
                              "a.m4a", "-map", "0:v:0", "-map", "1:a:0", "-c", "copy"}));
        QVERIFY(!MediaMerger::arguments("v", "a", "/x/out.mkv").contains("-movflags"));
    }

    void reportsMergeFailures_data()
    {
        QTest::addColumn<QString>("script"); // empty: no FFmpeg at all
        QTest::addColumn<QString>("message");
        QTest::newRow("no FFmpeg") << QString("") << "Не найден встроенный FFmpeg";
        QTest::newRow("error output")
            << QString("echo 'Invalid data found' >&2; exit 1") << "Invalid data found";
        QTest::newRow("silent failure") << QString("exit 1") << "FFmpeg не смог объединить дорожки";
    }
    void reportsMergeFailures()
    {
        QFETCH(QString, script);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString notExecutable = dir.filePath("plain");
        touch(notExecutable);
        MediaMerger::Setup setup;
        setup.ffmpegCandidates = {notExecutable};
        if (!script.isEmpty()) {
            const QString path = dir.filePath("ffmpeg");
            touch(path, ("#!/bin/sh\n" + script + "\n").toUtf8());
            QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
            setup.ffmpegCandidates << path;
        }
        Status status = AppError();
        std::thread([&] {
            status = MediaMerger::merge("v", "a", dir.filePath("o.mp4"), setup);
        }).join();
        QVERIFY(!status.ok());
        QCOMPARE(status.error().message, message);
    }
};

TOVRIN_TEST(TestVideoParsing);
#include "test_video_parsing.moc"
