#include "video/download_failure.h"

#include <initializer_list>

namespace {

bool containsAny(const QString &lowered, std::initializer_list<const char16_t *> fragments)
{
    for (const char16_t *fragment : fragments) {
        if (lowered.contains(QStringView(fragment)))
            return true;
    }
    return false;
}

// "drm" also occurs inside video ids and addresses; only a standalone word means DRM.
bool containsWord(const QString &lowered, QStringView word)
{
    qsizetype from = 0;
    while (true) {
        const qsizetype at = lowered.indexOf(word, from);
        if (at < 0)
            return false;
        const qsizetype end = at + word.size();
        const bool joinedBefore = at > 0 && lowered.at(at - 1).isLetterOrNumber();
        const bool joinedAfter = end < lowered.size() && lowered.at(end).isLetterOrNumber();
        if (!joinedBefore && !joinedAfter)
            return true;
        from = at + 1;
    }
}

bool fallbackFragments(const QString &lowered)
{
    return containsAny(lowered, {u"sign in to confirm you\u2019re not a bot",
                                 u"sign in to confirm you're not a bot", u"login_required",
                                 u"login required"});
}

// Since its late-2025 builds the engine solves YouTube's player challenges in an outside
// JavaScript runtime; these are its words when it found none or the solving failed.
bool runtimeFragments(const QString &lowered)
{
    return containsAny(
        lowered, {u"javascript runtime", u"challenge solving failed", u"signature solving failed"});
}

// A refresh also retries installing the runtime.
bool refreshFragments(const QString &lowered)
{
    return runtimeFragments(lowered)
           || containsAny(lowered,
                          {u"unable to extract", u"signature", u"challenge solving", u"nsig"});
}

const QString kUnavailable = QStringLiteral(
    "Публикация недоступна: она могла быть удалена, скрыта автором или ограничена для региона.");

} // namespace

namespace DownloadFailure {

bool requiresYouTubeFallback(const QString &diagnostic)
{
    return fallbackFragments(diagnostic.toLower());
}

bool requiresEngineRefresh(const QString &diagnostic)
{
    return refreshFragments(diagnostic.toLower());
}

QString explanation(const QString &diagnostic)
{
    const QString text = diagnostic.toLower();
    if (containsWord(text, u"drm") || text.contains(u"protected content"))
        return QStringLiteral(
            "Это видео защищено DRM. Приложение не может скачать защищённый контент.");
    if (containsAny(text, {u"private video", u"this video is private"}))
        return QStringLiteral(
            "Публикация закрыта — доступна только владельцу и приглашённым аккаунтам.");
    if (containsAny(text, {u"sign in to confirm your age", u"age-restricted"}))
        return QStringLiteral("Для этой публикации платформа требует подтверждения возраста.");
    if (text.contains(u"video unavailable"))
        return kUnavailable;
    // Before "requested format is not available": without a runtime the formats go missing,
    // and the engine says so only after its warnings about the runtime.
    if (runtimeFragments(text))
        return QStringLiteral("Не удалось подготовить компонент, нужный для этой платформы. "
                              "Проверьте интернет-соединение и попробуйте ещё раз.");
    if (text.contains(u"requested format is not available"))
        return QStringLiteral(
            "Подходящий вариант не найден. Попробуйте другой режим или качество.");
    if (text.contains(u"not available"))
        return kUnavailable;
    if (fallbackFragments(text))
        return QStringLiteral("YouTube запросил подтверждение браузерной сессии. Анонимные "
                              "запасные режимы тоже не сработали.");
    if (refreshFragments(text))
        return QStringLiteral("Платформа изменила способ выдачи видео. Автоматическое "
                              "обновление не помогло — попробуйте ещё раз чуть позже.");
    if (containsAny(text, {u"http error 429", u"too many requests"}))
        return QStringLiteral("Платформа временно ограничила слишком частые запросы. Подождите "
                              "немного и повторите попытку.");
    if (containsAny(text, {u"network is unreachable", u"timed out", u"temporary failure"}))
        return QStringLiteral("Не удалось подключиться к платформе. Проверьте "
                              "интернет-соединение и попробуйте ещё раз.");
    return QStringLiteral("Не удалось скачать файл. Откройте ссылку в браузере и проверьте, что "
                          "публикация доступна без ограничений.");
}

} // namespace DownloadFailure
