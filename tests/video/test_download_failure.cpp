#include "support/test_main.h"
#include "video/download_failure.h"

#include <QTest>

// Row texts of the explanation table, in its order.
static const QStringList kRows = {
    QStringLiteral("Это видео защищено DRM. Приложение не может скачать защищённый контент."),
    QStringLiteral("Публикация закрыта — доступна только владельцу и приглашённым аккаунтам."),
    QStringLiteral("Для этой публикации платформа требует подтверждения возраста."),
    QStringLiteral("Публикация недоступна: она могла быть удалена, скрыта автором или ограничена "
                   "для региона."),
    QStringLiteral("Подходящий вариант не найден. Попробуйте другой режим или качество."),
    QStringLiteral("Публикация недоступна: она могла быть удалена, скрыта автором или ограничена "
                   "для региона."),
    QStringLiteral("YouTube запросил подтверждение браузерной сессии. Анонимные запасные режимы "
                   "тоже не сработали."),
    QStringLiteral("Платформа изменила способ выдачи видео. Автоматическое обновление не помогло "
                   "— попробуйте ещё раз чуть позже."),
    QStringLiteral("Платформа временно ограничила слишком частые запросы. Подождите немного и "
                   "повторите попытку."),
    QStringLiteral("Не удалось подключиться к платформе. Проверьте интернет-соединение и "
                   "попробуйте ещё раз."),
    QStringLiteral("Не удалось скачать файл. Откройте ссылку в браузере и проверьте, что "
                   "публикация доступна без ограничений."),
    // 12: no JavaScript runtime, or challenge solving failed; checked right after row 4.
    QStringLiteral("Не удалось подготовить компонент, нужный для этой платформы. Проверьте "
                   "интернет-соединение и попробуйте ещё раз."),
};

class TestDownloadFailure : public QObject {
    Q_OBJECT

private slots:
    void explanation_data()
    {
        QTest::addColumn<QString>("diagnostic");
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("fallback");
        QTest::addColumn<bool>("refresh");
        // The table, one row per fragment, earlier rows winning.
        QTest::newRow("drm word") << "ERROR: [youtube] abc: This video is DRM protected" << 1
                                  << false << false;
        QTest::newRow("DRM upper case, at the end") << "ERROR: drm" << 1 << false << false;
        QTest::newRow("protected content") << "Protected Content ahead" << 1 << false << false;
        QTest::newRow("drm beats private") << "drm; this video is private" << 1 << false << false;
        QTest::newRow("private video") << "ERROR: Private video. Sign in" << 2 << false << false;
        QTest::newRow("private beats unavailable")
            << "Video unavailable. This video is private" << 2 << false << false;
        QTest::newRow("age") << "Sign in to confirm your age" << 3 << false << false;
        QTest::newRow("age-restricted") << "AGE-RESTRICTED video" << 3 << false << false;
        QTest::newRow("video unavailable")
            << "ERROR: [youtube] x: Video unavailable" << 4 << false << false;
        QTest::newRow("requested format")
            << "ERROR: REQUESTED FORMAT IS NOT AVAILABLE" << 5 << false << false;
        QTest::newRow("not available elsewhere")
            << "This live event is not available in your country" << 6 << false << false;
        QTest::newRow("words between not and available")
            << "The format is not currently available" << 11 << false << false;
        QTest::newRow("bot check, typographic apostrophe")
            << QString::fromUtf8("Sign in to confirm you\u2019re not a bot") << 7 << true << false;
        QTest::newRow("bot check, plain apostrophe")
            << "Sign in to confirm you're not a bot. Use --cookies" << 7 << true << false;
        QTest::newRow("login_required") << "LOGIN_REQUIRED" << 7 << true << false;
        QTest::newRow("login required") << "login required\nsecond line" << 7 << true << false;
        QTest::newRow("unable to extract")
            << "ERROR: Unable to extract uploader id" << 8 << false << true;
        QTest::newRow("signature") << "Signature extraction failed" << 8 << false << true;
        QTest::newRow("nsig") << "WARNING: NSIG extraction failed" << 8 << false << true;
        QTest::newRow("challenge solving, not failed")
            << "n challenge solving took 3 s" << 8 << false << true;
        // The engine's words about its JavaScript runtime (late-2025 builds).
        QTest::newRow("no runtime")
            << "WARNING: [youtube] No supported JavaScript runtime could be found. Only deno is "
               "enabled by default"
            << 12 << false << true;
        QTest::newRow("n challenge failed, then no format")
            << "WARNING: [youtube] yt1: n challenge solving failed: Some formats may be missing.\n"
               "ERROR: [youtube] yt1: Requested format is not available"
            << 12 << false << true;
        QTest::newRow("signature solving failed")
            << "WARNING: [youtube] yt1: Signature solving failed: Some formats may be missing" << 12
            << false << true;
        QTest::newRow("unavailable beats the runtime")
            << "WARNING: n challenge solving failed\nERROR: Video unavailable" << 4 << false
            << true;
        QTest::newRow("bot check beats refresh")
            << "login required; unable to extract" << 7 << true << true;
        QTest::newRow("429") << "ERROR: unable to download: HTTP Error 429: Too Many Requests" << 9
                             << false << false;
        QTest::newRow("too many requests") << "too many requests" << 9 << false << false;
        QTest::newRow("unreachable")
            << "[Errno 101] Network is unreachable" << 10 << false << false;
        QTest::newRow("timed out") << "The read operation timed out" << 10 << false << false;
        QTest::newRow("temporary failure")
            << "[Errno -3] Temporary failure in name resolution" << 10 << false << false;
        QTest::newRow("403 only") << "ERROR: unable to download video data: HTTP Error 403: "
                                     "Forbidden"
                                  << 11 << false << false;
        QTest::newRow("empty") << "" << 11 << false << false;
        // "drm" inside a word or an id is not DRM.
        QTest::newRow("drm inside an id")
            << "ERROR: [youtube] xdrmQ1: HTTP Error 403" << 11 << false << false;
        QTest::newRow("drm inside an address")
            << "ERROR: unable to open https://cdn.example/hdrm/v.mp4" << 11 << false << false;
        QTest::newRow("drm after digits") << "id 123drm failed" << 11 << false << false;
        QTest::newRow("drm between punctuation")
            << "[drm] license request failed" << 1 << false << false;
        // Lines as Debian's engine prints them for media served on loopback.
        QTest::newRow("real: unsupported URL")
            << "ERROR: Unsupported URL: http://127.0.0.1:41234/nothing.html" << 11 << false
            << false;
        QTest::newRow("real: 404")
            << "ERROR: [generic] Unable to download webpage: HTTP Error 404: Not Found (caused by "
               "<HTTPError 404: 'Not Found'>); please report this issue"
            << 11 << false << false;
        QTest::newRow("real: refused")
            << "ERROR: [generic] Unable to download webpage: <urlopen error [Errno 111] "
               "Connection refused> (caused by URLError(ConnectionRefusedError(111, "
               "'Connection refused')))"
            << 11 << false << false;
    }

    void explanation()
    {
        QFETCH(QString, diagnostic);
        QFETCH(int, row);
        QFETCH(bool, fallback);
        QFETCH(bool, refresh);
        QCOMPARE(DownloadFailure::explanation(diagnostic), kRows.at(row - 1));
        QCOMPARE(DownloadFailure::requiresYouTubeFallback(diagnostic), fallback);
        QCOMPARE(DownloadFailure::requiresEngineRefresh(diagnostic), refresh);
    }
};

TOVRIN_TEST(TestDownloadFailure);
#include "test_download_failure.moc"
