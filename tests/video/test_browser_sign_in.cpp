#include "support/test_main.h"
#include "video/browser_sign_in.h"
#include "video_scene.h"

namespace {

const QString kBotCheck = QStringLiteral("YouTube запросил подтверждение браузерной сессии. "
                                         "Анонимные запасные режимы тоже не сработали.");

} // namespace

// Lending YouTube runs a browser's sign-in, with the real engine reading a Firefox profile made
// here.
class TestBrowserSignIn : public QObject {
    Q_OBJECT

private slots:
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
                    "case \"$*\" in --version|*--cookies-from-browser*) ;; *) echo \"ERROR: "
                    "[youtube] yt1: Sign in to confirm you're not a bot\" >&2; exit 1;; esac\n"
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

        // Browsers with a profile are offered: Firefox's made here (the columns the engine reads,
        // a cookie for 127.0.0.1), a newer Chromium's store in "Network"; one never used is not.
        const QString store = home + "/.mozilla/firefox/k1.default-release/cookies.sqlite";
        for (const QString &file : {store, home + "/.config/google-chrome/Local State",
                                    home + "/.config/chromium/Default/Network/Cookies"}) {
            QDir().mkpath(QFileInfo(file).path());
            QFile(file).open(QIODevice::WriteOnly);
        }
        QCOMPARE(
            QProcess::execute("/usr/bin/sqlite3",
                              {store, "CREATE TABLE moz_cookies (host, name, value, path, "
                                      "expiry, isSecure); INSERT INTO moz_cookies VALUES "
                                      "('127.0.0.1', 'SID', 'signed-in', '/', 4102444800, 0);"}),
            0);
        s.analyse("https://youtu.be/yt1");
        QCOMPARE(state.error, kBotCheck);
        QStringList offered;
        for (const BrowserProfile &browser : state.signInBrowsers)
            offered << browser.name;
        QCOMPARE(offered, QStringList({"Firefox", "Chromium"}));

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
        QVERIFY(QFile::resize(store, 5));
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
