#include "support/test_main.h"
#include "video/browser_sign_in.h"
#include "video_scene.h"

namespace {

const QString kBotCheck = QStringLiteral("YouTube запросил подтверждение браузерной сессии. "
                                         "Анонимные запасные режимы тоже не сработали.");

// A Firefox profile under `home` whose cookie store signs 127.0.0.1 in.
void makeFirefoxProfile(const QString &home)
{
    const QString profile = QDir(home).filePath(".mozilla/firefox/k1.default-release");
    QVERIFY(QDir().mkpath(profile));
    QCOMPARE(
        QProcess::execute(
            "/usr/bin/sqlite3",
            {profile + "/cookies.sqlite",
             "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL "
             "DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, "
             "lastAccessed INTEGER, creationTime INTEGER, isSecure INTEGER, isHttpOnly "
             "INTEGER); INSERT INTO moz_cookies (name, value, host, path, expiry, isSecure) "
             "VALUES ('SID', 'signed-in', '127.0.0.1', '/', 4102444800, 0);"}),
        0);
}

} // namespace

// Lending YouTube runs a browser's sign-in: which browsers are found, and the whole flow with the
// real engine reading a Firefox profile made here.
class TestBrowserSignIn : public QObject {
    Q_OBJECT

private slots:
    // Files made under the home folder; the browsers found, as "NAME=SOURCE" (HOME: the home).
    void findsBrowsersWithAProfile_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("installed, never used")
            << QStringList{".config/google-chrome/Local State"} << QStringList{};
        QTest::newRow("snap, flatpak and usual homes; newer Chromium; Opera without profiles")
            << QStringList{".config/opera/Cookies", ".config/chromium/Default/Network/Cookies",
                           "snap/firefox/common/.mozilla/firefox/p.default/cookies.sqlite",
                           ".var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/"
                           "Default/Cookies",
                           ".config/BraveSoftware/Brave-Browser/Profile 1/Cookies"}
            << QStringList{"Firefox=firefox:HOME/snap/firefox/common/.mozilla/firefox",
                           "Chromium=chromium", "Brave=brave", "Opera=opera"};
    }
    void findsBrowsersWithAProfile()
    {
        QFETCH(QStringList, files);
        QTemporaryDir home;
        for (const QString &file : files) {
            QDir().mkpath(QFileInfo(home.filePath(file)).path());
            QFile(home.filePath(file)).open(QIODevice::WriteOnly);
        }
        QStringList found;
        for (const BrowserProfile &browser : findBrowserProfiles(home.path()))
            found << browser.name + u'='
                         + QString(browser.cookieSource()).replace(home.path(), "HOME");
        QTEST(found, "found");
    }

    void lendsTheSignInToYouTubeRuns()
    {
        FixtureServer server;
        server.serveBytes("/clip.mp4", "media", "video/mp4");
        VideoScene s;
        const QString home = s.locations.homeFolder;
        // YouTube lets signed-in runs through only: without a browser's sign-in the wrapper answers
        // with the bot check, with one the real engine reads the profile and fetches the clip.
        VideoScene::writeScript(
            s.enginePath(),
            QString("#!/bin/sh\n"
                    "case \"$*\" in --version|*--cookies-from-browser*) ;; *)\n"
                    "  echo \"ERROR: [youtube] yt1: Sign in to confirm you're not a bot\" >&2\n"
                    "  exit 1;; esac\n"
                    "echo \"$*\" >> '%1'\n"
                    "for a in \"$@\"; do shift\n"
                    "  case \"$a\" in https://www.youtube.com/*) a='%2';; esac\n"
                    "  set -- \"$@\" \"$a\"\n"
                    "done\n"
                    "HOME='%3' exec /usr/bin/yt-dlp \"$@\"\n")
                .arg(s.engineLog, server.url("/clip.mp4"), home));
        const AnalysisState &state = s.model->analysis().state();

        // No browser on the machine: the explanation alone.
        s.analyse("https://youtu.be/yt1");
        QCOMPARE(state.error, kBotCheck);
        QVERIFY(state.signInBrowsers.isEmpty());

        makeFirefoxProfile(home);
        s.analyse("https://youtu.be/yt1");
        QCOMPARE(state.error, kBotCheck);
        QCOMPARE(state.signInBrowsers.size(), 1);
        QCOMPARE(state.signInBrowsers.first().name, "Firefox");

        // Choosing it analyses again at once, signed in.
        s.model->signInWithBrowser("firefox");
        QVERIFY(state.isWorking());
        QTRY_VERIFY_WITH_TIMEOUT(!state.isWorking(), 60000);
        QCOMPARE(state.error, std::nullopt);
        QCOMPARE(s.prefs.value("videoCookiesBrowser.v1").value_or(QVariant()), QVariant("firefox"));
        QCOMPARE(server.requests("/clip.mp4").last().header("Cookie"), "SID=signed-in");

        // Downloads of the link carry it too, and so does a run of the program started later.
        s.model->startDownload(s.model->choices().state().lists.withAudio.first());
        QTRY_COMPARE_WITH_TIMEOUT(s.model->history().items().size(), 1, 60000);
        QCOMPARE(s.model->history().items().first().result, DownloadHistoryItem::Result::Completed);
        QVERIFY(s.engineCalls().last().contains("--cookies-from-browser firefox "));
        QCOMPARE(BrowserSignIn(s.prefs, home).argumentsFor("https://www.youtube.com/watch?v=a"),
                 QStringList({"--cookies-from-browser", "firefox"}));

        // A store the engine cannot read is explained in the browser's name.
        const QString store = home + "/.mozilla/firefox/k1.default-release/cookies.sqlite";
        QFile::remove(store);
        QFile file(store);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a database") > 0);
        file.close();
        s.analyse("https://youtu.be/yt1");
        QCOMPARE(state.error, "Не удалось прочитать вход из браузера «Firefox». Закройте браузер и "
                              "попробуйте ещё раз.");
        QVERIFY(state.signInBrowsers.isEmpty());

        s.model->signIn().forget();
        QVERIFY(!s.prefs.contains("videoCookiesBrowser.v1"));
        s.analyse("https://youtu.be/yt1");
        QCOMPARE(state.error, kBotCheck);
    }
};

TOVRIN_TEST(TestBrowserSignIn);
#include "test_browser_sign_in.moc"
