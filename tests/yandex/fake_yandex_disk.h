#pragma once

#include "app/platform/curl_http_client.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/fake_locations.h"
#include "support/fake_preferences.h"
#include "support/fixture_server.h"
#include "yandex/download_manager.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>
#include <mutex>

using Fault = FixtureServer::Fault;
using Faults = QList<Fault>;
// Where the API answers for resources and listing pages.
inline const QString kResources = QStringLiteral("/v1/disk/public/resources");

// Bytes that differ from one offset to the next, so a misplaced range shows.
QByteArray patterned(qsizetype size, int seed = 1);
// A file's whole content; empty when it cannot be read.
QByteArray contentsOf(const QString &path);

// The retry waits as data: records every delay asked for and waits only `scale` of it,
// so tests check 1 s, 2 s, 4 s back-offs without spending them. A stop still cuts a wait.
class RecordingSleep {
public:
    explicit RecordingSleep(double scale = 0.001) : m_scale(scale) {}
    SleepFn function()
    {
        return [this](double seconds, const CancelToken &cancel) {
            {
                std::lock_guard lock(m_mutex);
                m_delays.append(seconds);
            }
            return cancel.sleepFor(seconds * m_scale);
        };
    }
    QList<double> delays() const
    {
        std::lock_guard lock(m_mutex);
        return m_delays;
    }

private:
    double m_scale;
    mutable std::mutex m_mutex;
    QList<double> m_delays;
};

// A stand-in for the public Yandex Disk API on a FixtureServer: one shared resource (a folder
// tree or a single file) answered page by page as the real service does, items listed in path
// order, with download links that point at file bodies served by `files` (the same server or
// another).
class FakeYandexDisk {
public:
    static inline const QString kPublicLink = QStringLiteral("https://disk.yandex.ru/d/TestKey");

    FakeYandexDisk(FixtureServer &api, FixtureServer &files);

    // The shared resource is a folder (the default: "Shared") or one file.
    void setRootFolder(const QString &name);
    void setRootFile(const QString &name, const QByteArray &content);
    // `path` inside the shared folder, e.g. "/Photos/2020"; parents must exist.
    void addFolder(const QString &path);
    // Listed with its size, digests and (unless `listLink` is false) its direct link, each
    // only when the request's `fields` asks for it, as the service does.
    void addFile(const QString &path, const QByteArray &content, bool listSize = true,
                 bool listLink = true);
    // Lists an item in `folder` that has nothing behind it.
    void addRawItem(const QString &folder, const QString &type, const QString &name,
                    const QString &path);
    // Where a file's body is served on `files`, e.g. "/files/3".
    QString bodyPath(const QString &remotePath) const { return m_bodies.value(remotePath); }

private:
    FixtureServer::Reply resource(const FixtureServer::Request &request) const;
    FixtureServer::Reply download(const FixtureServer::Request &request) const;

    FixtureServer &m_files;
    QMap<QString, QJsonObject> m_items; // as listed, by path; "" is the shared resource itself
    QMap<QString, QString> m_bodies;    // by path
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
    double networkWaitSeconds = 600; // for the managers made from then on
    std::unique_ptr<DownloadManager> manager;

private:
    QString m_link;
};
