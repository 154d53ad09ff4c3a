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
        // One row per branch of the table, earlier branches winning.
        const QList<std::tuple<const char *, QString, int, bool, bool>> rows{
            {"drm word", "ERROR: [youtube] abc: This video is DRM protected", 1, false, false},
            {"protected content", "Protected Content ahead", 1, false, false},
            // "drm" inside a word, an id or an address is not DRM; a later standalone one is.
            {"drm joined after", "ERROR: [youtube] drmQ1: HTTP Error 403", 11, false, false},
            {"drm after digits", "id 123drm failed", 11, false, false},
            {"drm in an address, then between punctuation",
             "https://cdn.example/hdrm/v.mp4: [drm] license request failed", 1, false, false},
            {"drm beats private", "drm; this video is private", 1, false, false},
            {"private video", "ERROR: Private video. Sign in", 2, false, false},
            {"private beats unavailable", "Video unavailable. This video is private", 2, false,
             false},
            {"age", "Sign in to confirm your age", 3, false, false},
            {"video unavailable", "ERROR: [youtube] x: Video unavailable", 4, false, false},
            {"unavailable beats the runtime",
             "WARNING: n challenge solving failed\nERROR: Video unavailable", 4, false, true},
            // The engine's words about its JavaScript runtime (late-2025 builds) come before the
            // missing format they cause.
            {"no runtime, then no format",
             "WARNING: [youtube] No supported JavaScript runtime could be found.\n"
             "ERROR: [youtube] yt1: Requested format is not available",
             12, false, true},
            {"requested format", "ERROR: REQUESTED FORMAT IS NOT AVAILABLE", 5, false, false},
            {"not available elsewhere", "This live event is not available in your country", 6,
             false, false},
            {"bot check", QString::fromUtf8("Sign in to confirm you\u2019re not a bot"), 7, true,
             false},
            {"bot check beats refresh", "login required; unable to extract", 7, true, true},
            {"unable to extract", "ERROR: Unable to extract uploader id", 8, false, true},
            {"429", "ERROR: unable to download: HTTP Error 429: Too Many Requests", 9, false,
             false},
            {"unreachable", "[Errno 101] Network is unreachable", 10, false, false},
            // As Debian's engine prints it for a page missing on loopback.
            {"anything else",
             "ERROR: [generic] Unable to download webpage: HTTP Error 404: Not Found (caused by "
             "<HTTPError 404: 'Not Found'>); please report this issue",
             11, false, false}};
        for (const auto &[name, diagnostic, row, fallback, refresh] : rows)
            QTest::newRow(name) << diagnostic << row << fallback << refresh;
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
