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

enum class Reason {
    Drm,
    Private,
    AgeRestricted,
    Unavailable,
    MissingRuntime,
    FormatUnavailable,
    BotCheck,
    PlatformChanged,
    RateLimited,
    Offline,
    Other,
};

Reason reasonOf(const QString &text)
{
    if (containsWord(text, u"drm") || text.contains(u"protected content"))
        return Reason::Drm;
    if (containsAny(text, {u"private video", u"this video is private"}))
        return Reason::Private;
    if (containsAny(text, {u"sign in to confirm your age", u"age-restricted"}))
        return Reason::AgeRestricted;
    if (text.contains(u"video unavailable"))
        return Reason::Unavailable;
    // Before "requested format is not available": without a runtime the formats go missing,
    // and the engine says so only after its warnings about the runtime.
    if (runtimeFragments(text))
        return Reason::MissingRuntime;
    if (text.contains(u"requested format is not available"))
        return Reason::FormatUnavailable;
    if (text.contains(u"not available"))
        return Reason::Unavailable;
    if (fallbackFragments(text))
        return Reason::BotCheck;
    if (refreshFragments(text))
        return Reason::PlatformChanged;
    if (containsAny(text, {u"http error 429", u"too many requests"}))
        return Reason::RateLimited;
    if (containsAny(text, {u"network is unreachable", u"timed out", u"temporary failure"}))
        return Reason::Offline;
    return Reason::Other;
}

// The engine could not read the browser's cookie store: missing, locked by the running
// browser, not a database, or encrypted with a keyring that is not open. Older engines end
// with a traceback through their cookie module.
bool cookieReadFragments(const QString &lowered)
{
    return containsAny(lowered, {u"cookies database", u"cookie database", u"failed to load cookies",
                                 u"cookies.py", u"database is locked", u"file is not a database",
                                 u"keyring", u"secretstorage", u"failed to decrypt"});
}

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

bool mediaLinkRefused(const QString &diagnostic)
{
    return containsAny(diagnostic.toLower(),
                       {u"http error 403", u"http error 410", u"403: forbidden", u"410: gone"});
}

bool signInMayHelp(const QString &diagnostic, const QString &signInBrowser)
{
    const QString text = diagnostic.toLower();
    if (!signInBrowser.isEmpty() && cookieReadFragments(text))
        return false;
    const Reason reason = reasonOf(text);
    return reason == Reason::Private || reason == Reason::AgeRestricted
           || reason == Reason::BotCheck;
}

QString explanation(const QString &diagnostic, const QString &signInBrowser)
{
    const QString text = diagnostic.toLower();
    if (!signInBrowser.isEmpty() && cookieReadFragments(text))
        return QStringLiteral("Не удалось прочитать вход из браузера «%1». Закройте браузер и "
                              "попробуйте ещё раз.")
            .arg(signInBrowser);
    switch (reasonOf(text)) {
    case Reason::Drm:
        return QStringLiteral(
            "Это видео защищено DRM. Приложение не может скачать защищённый контент.");
    case Reason::Private:
        return QStringLiteral(
            "Публикация закрыта — доступна только владельцу и приглашённым аккаунтам.");
    case Reason::AgeRestricted:
        return QStringLiteral("Для этой публикации платформа требует подтверждения возраста.");
    case Reason::Unavailable:
        return QStringLiteral("Публикация недоступна: она могла быть удалена, скрыта автором или "
                              "ограничена для региона.");
    case Reason::MissingRuntime:
        return QStringLiteral("Не удалось подготовить компонент, нужный для этой платформы. "
                              "Проверьте интернет-соединение и попробуйте ещё раз.");
    case Reason::FormatUnavailable:
        return QStringLiteral(
            "Подходящий вариант не найден. Попробуйте другой режим или качество.");
    case Reason::BotCheck:
        return QStringLiteral("YouTube запросил подтверждение браузерной сессии. Анонимные "
                              "запасные режимы тоже не сработали.");
    case Reason::PlatformChanged:
        return QStringLiteral("Платформа изменила способ выдачи видео. Автоматическое "
                              "обновление не помогло — попробуйте ещё раз чуть позже.");
    case Reason::RateLimited:
        return QStringLiteral("Платформа временно ограничила слишком частые запросы. Подождите "
                              "немного и повторите попытку.");
    case Reason::Offline:
        return QStringLiteral("Не удалось подключиться к платформе. Проверьте "
                              "интернет-соединение и попробуйте ещё раз.");
    case Reason::Other:
        break;
    }
    return QStringLiteral("Не удалось скачать файл. Откройте ссылку в браузере и проверьте, что "
                          "публикация доступна без ограничений.");
}

} // namespace DownloadFailure
