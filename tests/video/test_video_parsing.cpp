#include "support/test_main.h"
#include "video/download_failure.h"
#include "video/merged_file_name.h"
#include "video/video_job_state.h"
#include "video/video_link.h"
#include "video/video_progress.h"

#include <QTest>

using Snapshot = std::optional<VideoProgressSnapshot>;

// The bytes of a job's file so far (total -1: unknown; speed none: not yet known).
static Progress bytes(qint64 done, qint64 total, std::optional<double> speed)
{
    return Progress{done, total, 0, -1, speed};
}

class TestVideoParsing : public QObject {
    Q_OBJECT

private slots:
    // What is not a supported link gives nothing ("").
    void normalisesLinks()
    {
        const char *rows[][3] = {
            {"short link with spaces and time offset", "  https://youtu.be/abc123?t=42 \n",
             "https://www.youtube.com/watch?v=abc123"},
            {"short link without id", "https://youtu.be/", ""},
            {"short link host is exact", "https://m.youtu.be/abc", ""},
            {"shorts page", "http://m.youtube.com/shorts/xyz?feature=share",
             "https://www.youtube.com/watch?v=xyz"},
            {"watch page unchanged", "https://www.youtube.com/watch?v=a&list=b",
             "https://www.youtube.com/watch?v=a&list=b"},
            {"platform subdomain", "https://player.vimeo.com/video/1",
             "https://player.vimeo.com/video/1"},
            {"domain text without dot", "https://notvimeo.com/1", ""},
            {"other scheme", "ftp://youtube.com/watch?v=1", ""},
            {"no host", "vimeo.com/1", ""},
        };
        for (const auto &[name, input, expected] : rows) {
            const QString got = normalizeVideoLink(input).value_or(QString());
            QVERIFY2(got == expected, qPrintable(QString("%1: %2").arg(name, got)));
        }
    }

    void parsesProgressLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Snapshot>("expected");
        QTest::newRow("all known") << QString("tovrin:1024|NA|4096") << Snapshot({1024, 4096});
        QTest::newRow("total wins") << QString("tovrin:5|10|20") << Snapshot({5, 10});
        QTest::newRow("no total") << QString("tovrin:1024|0|NA") << Snapshot({1024, std::nullopt});
        QTest::newRow("no downloaded count") << QString("tovrin:NA|100|100") << Snapshot();
        // A streamed (fragmented) format's total is a fractional estimate.
        QTest::newRow("fractional estimate, rounded")
            << QString("tovrin:1024|NA|161680.5") << Snapshot({1024, 161681});
        QTest::newRow("not a count") << QString("tovrin:-1.5|inf|nan") << Snapshot();
        QTest::newRow("text before the marker, spaces")
            << QString("[x] tovrin: 7 | 9 |NA") << Snapshot({7, 9});
    }
    void parsesProgressLines()
    {
        QFETCH(QString, line);
        QFETCH(Snapshot, expected);
        QCOMPARE(parseProgressLine(line), expected);
    }

    // What a job's row shows: the status and detail lines and the bar's fill.
    void describesJobStates_data()
    {
        using Stage = VideoJobStage;
        QTest::addColumn<VideoJobState>("state");
        QTest::addColumn<QString>("lines"); // status / detail
        QTest::addColumn<double>("bar");
        const MergeNote note{"MP4", "H.264"};
        QTest::newRow("sound track under way")
            << VideoJobState{Stage::SoundTrack, bytes(450'000, 1'000'000, 1.5e6), {}, {}, {}}
            << "Загружаю… 45% / Скачано 450 кБ из 1 МБ · 1,5 МБ/с" << 0.45;
        QTest::newRow("percent cut, not rounded")
            << VideoJobState{Stage::Downloading, bytes(999, 1000, 0.0), {}, {}, {}}
            << "Загружаю… 99% / Скачано 999 Б из 1 кБ · 0 Б/с" << 0.999;
        QTest::newRow("more bytes than the total")
            << VideoJobState{Stage::Downloading, bytes(1'200'000, 1'000'000, 1e6), {}, {}, {}}
            << "Загружаю… 100% / Скачано 1,2 МБ из 1 МБ · 1 МБ/с" << 1.0;
        QTest::newRow("the total and speed no longer told: the bar keeps its share")
            << VideoJobState{Stage::VideoTrack, bytes(70, -1, {}), {}, {}, {}, 0.6}
            << "Загружаю… / Скачано 70 Б · скорость —" << 0.6;
        QTest::newRow("merging keeps the last track's bar")
            << VideoJobState{Stage::Merging, bytes(80, 100, 5.0), note, {}, {}}
            << "Объединяю видео и звук… / MP4 · H.264 · без перекодирования" << 0.8;
    }
    void describesJobStates()
    {
        QFETCH(VideoJobState, state);
        const QString detail = videoJobDetail(state);
        QTEST(videoJobStatus(state) + (detail.isEmpty() ? "" : " / " + detail), "lines");
        QTEST(videoJobBarFraction(state), "bar");
    }

    // A title and an id become a file name; a long one is cut (only its start is checked) to
    // leave room for " (n)" and the hidden staging name.
    void namesMergedFiles()
    {
        const QString rows[][4] = {
            {"forbidden characters", "a/b:c?d", "X1", "a-b-c-d [X1]"},
            {"only forbidden and spaces", " */ | ", "X1", "video [X1]"},
            {"dash kept inside", "a - b", "X1", "a - b [X1]"},
            {"control character", "A\u0007B", "i", "A_B [i]"},
            {"long title and id", QString(300, QChar(0x0416)), QString(100, u'i'), ""},
        };
        for (const auto &[row, title, id, expected] : rows) {
            const QString name = mergedBaseName(title, id, 3);
            QVERIFY2(expected.isEmpty() ? name.startsWith(title.left(10)) : name == expected,
                     qPrintable(row + ": " + name));
            QVERIFY((name + " (9999).mp4").toUtf8().size() <= 255);
        }
    }

    // The engine's English diagnostic: the explanation shown (a telling part of it) when the run
    // carried Firefox's sign-in, and whether a YouTube fallback mode, a refresh of the engine or
    // signing in may help. Earlier rules win.
    void explainsFailures_data()
    {
        QTest::addColumn<QString>("diagnostic");
        QTest::addColumn<QString>("explanation");
        QTest::addColumn<bool>("fallback");
        QTest::addColumn<bool>("refresh");
        QTest::addColumn<bool>("signIn");
        const QString drm = "защищено DRM", closed = "закрыта", gone = "недоступна",
                      age = "возраста", runtime = "компонент", format = "вариант не найден",
                      session = "браузерной сессии", changed = "изменила способ",
                      busy = "частые запросы", offline = "подключиться", other = "Откройте ссылку",
                      cookies = "вход из браузера «Firefox»";
        const std::tuple<const char *, QString, QString, bool, bool> rows[] = {
            {"no cookie store", "FileNotFoundError: could not find firefox cookies database in /h",
             cookies, false, false},
            // "drm" inside a word, an id or an address is not DRM; a later standalone one is.
            {"drm joined after", "ERROR: [youtube] drmQ1: HTTP Error 403", other, false, false},
            {"drm in an address, then between punctuation",
             "https://cdn.example/hdrm/v.mp4: [drm] license request failed", drm, false, false},
            {"drm beats private", "drm; this video is private", drm, false, false},
            {"private beats unavailable", "Video unavailable. Private video", closed, false, false},
            {"age", "Sign in to confirm your age", age, false, false},
            {"unavailable beats the runtime",
             "WARNING: n challenge solving failed\nERROR: Video unavailable", gone, false, true},
            // The engine's words about its JavaScript runtime (late-2025 builds) come before the
            // missing format they cause.
            {"no runtime, then no format",
             "WARNING: [youtube] No supported JavaScript runtime could be found.\n"
             "ERROR: [youtube] yt1: Requested format is not available",
             runtime, false, true},
            {"requested format", "ERROR: REQUESTED FORMAT IS NOT AVAILABLE", format, false, false},
            {"not available elsewhere", "Not available in your country", gone, false, false},
            {"bot check", "Sign in to confirm you\u2019re not a bot", session, true, false},
            {"bot check beats refresh", "login required; unable to extract", session, true, true},
            {"unable to extract", "ERROR: Unable to extract uploader id", changed, false, true},
            {"429", "ERROR: HTTP Error 429: Too Many Requests", busy, false, false},
            {"unreachable", "[Errno 101] Network is unreachable", offline, false, false},
            {"anything else", "ERROR: HTTP Error 404: Not Found", other, false, false}};
        for (const auto &[name, diagnostic, explanation, fallback, refresh] : rows) {
            QTest::newRow(name) << diagnostic << explanation << fallback << refresh
                                << (explanation == closed || explanation == age
                                    || explanation == session);
        }
    }
    void explainsFailures()
    {
        QFETCH(QString, diagnostic);
        QFETCH(QString, explanation);
        const QString shown = DownloadFailure::explanation(diagnostic, "Firefox");
        QVERIFY2(shown.contains(explanation), qPrintable(shown));
        // Without a browser's sign-in there is no sign-in to fail.
        QVERIFY(!DownloadFailure::explanation(diagnostic).contains("Firefox"));
        QTEST(DownloadFailure::signInMayHelp(diagnostic, "Firefox"), "signIn");
        QTEST(DownloadFailure::requiresYouTubeFallback(diagnostic), "fallback");
        QTEST(DownloadFailure::requiresEngineRefresh(diagnostic), "refresh");
    }
};

TOVRIN_TEST(TestVideoParsing);
#include "test_video_parsing.moc"
