#pragma once

#include "app/platform/curl_http_client.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/fake_locations.h"
#include "support/fake_preferences.h"
#include "support/fixture_server.h"
#include "yandex/download_manager.h"

#include <QHash>
#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>
#include <mutex>

// Bytes that differ from one offset to the next, so a misplaced range shows.
QByteArray patterned(qsizetype size, int seed = 1);
// A file's whole content; empty when it cannot be read.
QByteArray contentsOf(const QString &path);

// The retry waits as data: records every delay asked for and waits only `scale` of it,
// so tests check 1 s, 2 s, 4 s back-offs without spending them. A stop still cuts a wait.
class RecordingSleep {
public:
    explicit RecordingSleep(double scale = 0.001) : m_scale(scale) {}
    SleepFn function();
    QList<double> delays() const;

private:
    double m_scale;
    mutable std::mutex m_mutex;
    QList<double> m_delays;
};

// A stand-in for the public Yandex Disk API on a FixtureServer: one shared resource (a folder
// tree or a single file) answered page by page as the real service does, with download links
// that point at file bodies served by `files` (the same server or another).
class FakeYandexDisk {
public:
    static inline const QString kPublicLink = QStringLiteral("https://disk.yandex.ru/d/TestKey");

    FakeYandexDisk(FixtureServer &api, FixtureServer &files);

    // The shared resource is a folder (the default: "Shared"), one file, or of another type.
    void setRootFolder(const QString &name) { setRootType(QStringLiteral("dir"), name); }
    void setRootFile(const QString &name, const QByteArray &content);
    void setRootType(const QString &type, const QString &name);
    // `path` inside the shared folder, e.g. "/Photos/2020"; parents must exist.
    void addFolder(const QString &path);
    void addFile(const QString &path, const QByteArray &content, bool listSize = true);
    // Lists an item in `folder` that has nothing behind it.
    void addRawItem(const QString &folder, const QString &type, const QString &name,
                    const QString &path);
    // Where a file's body is served on `files`, e.g. "/files/3".
    QString bodyPath(const QString &remotePath) const { return m_nodes.value(remotePath).body; }

private:
    struct Node {
        QJsonObject item;     // as listed: type, name, path and (if listed) size
        QStringList children; // keys of the children, in listing order
        QString body;         // files only
    };
    void add(const QString &key, const Node &node); // "" is the shared resource itself
    FixtureServer::Reply resource(const FixtureServer::Request &request) const;
    FixtureServer::Reply download(const FixtureServer::Request &request) const;

    FixtureServer &m_files;
    QHash<QString, Node> m_nodes; // by path
    int m_next = 0;
};

// The real download manager against a FakeYandexDisk (API and file bodies on two loopback
// servers, so `files` sees only file transfers) with a temporary downloads folder.
struct DiskScene {
    // `link` is set on every manager made; empty leaves the link to the test.
    explicit DiskScene(QString link = FakeYandexDisk::kPublicLink);
    // A new manager over the same preferences and folders, as after a relaunch.
    void create();
    // Starts a run and waits until the manager can start again.
    bool runToEnd();
    const DownloadState &state() const { return manager->state(); }
    const QList<DownloadHistoryItem> &history() const { return manager->history().items(); }

    QTemporaryDir dir;
    FixtureServer api;
    FixtureServer files;
    FakeYandexDisk disk{api, files};
    CurlHttpClient http;
    FakePreferences prefs;
    FakeClock clock;
    FakeLocations locations{dir.path()};
    FakeDesktopServices desktop;
    RecordingSleep sleep;
    std::unique_ptr<DownloadManager> manager;

private:
    QString m_link;
};
