#include "video/browser_sign_in.h"

#include "app/platform/preference_keys.h"
#include "app/platform/preference_values.h"
#include "video/video_link.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <array>

namespace {

// Where each browser keeps its profiles, relative to the home folder: the usual package first
// (the folder the engine looks in by itself), then the snap and flatpak homes.
struct KnownBrowser {
    const char *name;
    const char *engineName;
    const char *store; // the cookie store's file name inside a profile
    std::array<const char *, 3> folders;
};

const std::array<KnownBrowser, 7> kBrowsers{{
    {"Firefox",
     "firefox",
     "cookies.sqlite",
     {".mozilla/firefox", "snap/firefox/common/.mozilla/firefox",
      ".var/app/org.mozilla.firefox/.mozilla/firefox"}},
    {"Chromium",
     "chromium",
     "Cookies",
     {".config/chromium", "snap/chromium/common/chromium",
      ".var/app/org.chromium.Chromium/config/chromium"}},
    {"Google Chrome",
     "chrome",
     "Cookies",
     {".config/google-chrome", ".var/app/com.google.Chrome/config/google-chrome", nullptr}},
    {"Brave",
     "brave",
     "Cookies",
     {".config/BraveSoftware/Brave-Browser",
      "snap/brave/current/.config/BraveSoftware/Brave-Browser",
      ".var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser"}},
    {"Vivaldi",
     "vivaldi",
     "Cookies",
     {".config/vivaldi", "snap/vivaldi/current/.config/vivaldi",
      ".var/app/com.vivaldi.Vivaldi/config/vivaldi"}},
    {"Opera",
     "opera",
     "Cookies",
     {".config/opera", "snap/opera/current/.config/opera",
      ".var/app/com.opera.Opera/config/opera"}},
    {"Microsoft Edge",
     "edge",
     "Cookies",
     {".config/microsoft-edge", ".var/app/com.microsoft.Edge/config/microsoft-edge", nullptr}},
}};

// A profile's store lies in the folder itself (Opera), in a profile folder ("Default",
// "abc.default-release") or in its "Network" folder (newer Chromium builds).
bool holdsStore(const QString &folder, const QString &store, int depth)
{
    if (QFileInfo(QDir(folder).filePath(store)).isFile())
        return true;
    if (depth == 0)
        return false;
    const QFileInfoList children =
        QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &child : children) {
        if (holdsStore(child.absoluteFilePath(), store, depth - 1))
            return true;
    }
    return false;
}

std::optional<BrowserProfile> findBrowser(const QString &home, const KnownBrowser &browser)
{
    for (std::size_t i = 0; i < browser.folders.size() && browser.folders.at(i); ++i) {
        const QString folder = QDir(home).filePath(QLatin1String(browser.folders.at(i)));
        if (holdsStore(folder, QLatin1String(browser.store), 2))
            return BrowserProfile{QString::fromUtf8(browser.name),
                                  QLatin1String(browser.engineName), folder, i == 0};
    }
    return std::nullopt;
}

} // namespace

QString BrowserProfile::cookieSource() const
{
    return atEngineDefault ? engineName : engineName + u':' + folder;
}

QList<BrowserProfile> findBrowserProfiles(const QString &home)
{
    QList<BrowserProfile> found;
    for (const KnownBrowser &browser : kBrowsers) {
        if (std::optional<BrowserProfile> profile = findBrowser(home, browser))
            found.append(*profile);
    }
    return found;
}

std::optional<QString> browserShownName(const QString &engineName)
{
    for (const KnownBrowser &browser : kBrowsers) {
        if (engineName == QLatin1String(browser.engineName))
            return QString::fromUtf8(browser.name);
    }
    return std::nullopt;
}

BrowserSignIn::BrowserSignIn(Preferences &preferences, QString home, QObject *parent)
    : QObject(parent), m_preferences(preferences), m_home(std::move(home))
{
}

QList<BrowserProfile> BrowserSignIn::foundBrowsers() const
{
    return findBrowserProfiles(m_home);
}

std::optional<QString> BrowserSignIn::chosenEngineName() const
{
    std::optional<QString> name =
        readString(m_preferences, QString(PreferenceKeys::kVideoCookiesBrowser));
    if (name && browserShownName(*name))
        return name;
    return std::nullopt;
}

std::optional<QString> BrowserSignIn::chosenName() const
{
    const std::optional<QString> engineName = chosenEngineName();
    return engineName ? browserShownName(*engineName) : std::nullopt;
}

void BrowserSignIn::choose(const QString &engineName)
{
    if (!browserShownName(engineName))
        return;
    m_preferences.setValue(QString(PreferenceKeys::kVideoCookiesBrowser), engineName);
    emit changed();
}

void BrowserSignIn::forget()
{
    m_preferences.remove(QString(PreferenceKeys::kVideoCookiesBrowser));
    emit changed();
}

QStringList BrowserSignIn::argumentsFor(const QString &link) const
{
    const std::optional<QString> engineName = chosenEngineName();
    if (!engineName || !isYouTubeHost(QUrl(link).host()))
        return {};
    QString source = *engineName;
    // The profile where it is now; a browser since removed is still named, and the engine's
    // failure to read it is explained. Only the chosen browser's homes are looked at: this
    // runs on every engine start.
    for (const KnownBrowser &browser : kBrowsers) {
        if (*engineName != QLatin1String(browser.engineName))
            continue;
        if (std::optional<BrowserProfile> profile = findBrowser(m_home, browser))
            source = profile->cookieSource();
    }
    return {QStringLiteral("--cookies-from-browser"), source};
}
