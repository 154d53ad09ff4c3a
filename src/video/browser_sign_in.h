#pragma once

#include "app/platform/preferences.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

// A browser with at least one profile on this machine, whose sign-in the engine can read.
struct BrowserProfile {
    QString name;       // shown to the user: "Firefox"
    QString engineName; // the engine's name for it: "firefox"
    QString folder;     // the folder that holds its profiles
    // The engine looks in `folder` by itself; a snap or flatpak home it may not know.
    bool atEngineDefault = true;

    bool operator==(const BrowserProfile &) const = default;
    // The value of "--cookies-from-browser": the engine name, with the folder when the engine
    // would not find it by itself.
    QString cookieSource() const;
};

// Browsers under `home` with a profile that holds a cookie store, in a fixed order; a browser
// installed in several ways is listed once, by its first home that has a profile.
QList<BrowserProfile> findBrowserProfiles(const QString &home);

// The shown name of a browser the engine knows ("firefox" gives "Firefox"); none for others.
std::optional<QString> browserShownName(const QString &engineName);

// The browser whose sign-in the user lent to YouTube downloads, kept in the preferences (so it
// holds after a restart), and the browsers to choose it from. Owned by DownloadModel; UI thread.
class BrowserSignIn : public QObject {
    Q_OBJECT
public:
    BrowserSignIn(Preferences &preferences, QString home, QObject *parent = nullptr);

    // Looked up anew on each call: a browser may be installed while the program runs.
    QList<BrowserProfile> foundBrowsers() const;
    // The chosen browser's shown name; none when no (known) browser is chosen.
    std::optional<QString> chosenName() const;
    // Stores a browser the engine knows; anything else is ignored.
    void choose(const QString &engineName);
    void forget();
    // What every engine run for `link` adds: the chosen browser's cookies for a YouTube link,
    // nothing otherwise.
    QStringList argumentsFor(const QString &link) const;

signals:
    void changed();

private:
    std::optional<QString> chosenEngineName() const;

    Preferences &m_preferences;
    QString m_home;
};
