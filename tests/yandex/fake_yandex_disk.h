#pragma once

#include "app/platform/curl_http_client.h"
#include "recording_sleep.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/fake_locations.h"
#include "support/fake_preferences.h"
#include "support/fixture_server.h"
#include "yandex/download_manager.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

// Bytes that differ from one offset to the next, so a misplaced range shows.
QByteArray patterned(qsizetype size, int seed = 1);
// A file's whole content; empty when it cannot be read.
QByteArray contentsOf(const QString &path);

// A stand-in for the public Yandex Disk API on a FixtureServer: one shared resource (a folder
// tree or a single file) answered page by page as the real service does, with download links
// that point at file bodies served by `files` (the same server or another).
class FakeYandexDisk {
public:
    static inline const QString kPublicLink = QStringLiteral("https://disk.yandex.ru/d/TestKey");

    FakeYandexDisk(FixtureServer &api, FixtureServer &files);

    // The shared resource is a folder named `name` (the default: "Shared").
    void setRootFolder(const QString &name) { setRootType(QStringLiteral("dir"), name); }
    // The shared resource is this one file.
    void setRootFile(const QString &name, const QByteArray &content, bool listSize = true);
    // The shared resource has another type.
    void setRootType(const QString &type, const QString &name);

    // `path` inside the shared folder, e.g. "/Photos/2020"; parents must exist.
    void addFolder(const QString &path);
    void addFile(const QString &path, const QByteArray &content, bool listSize = true);
    // Lists `item` (a raw JSON object) in `folder` without anything behind it.
    void addRawItem(const QString &folder, const QByteArray &itemJson);

    // Where a file's body is served on `files`, e.g. "/files/3".
    QString bodyPath(const QString &remotePath) const;
    // Offsets asked for when listing `folder` ("" for the root), in order.
    QList<int> listedOffsets(const QString &folder) const;

private:
    struct Node {
        QString type;
        QString name;
        QString path;
        std::optional<qint64> size;
        QByteArray rawJson;      // for raw items
        QList<QString> children; // paths of children, in listing order
        QString bodyPath;
    };
    Node fileNode(const QString &path, const QString &name, const QByteArray &content,
                  bool listSize);
    void addChild(const QString &path, Node node);
    FixtureServer::Reply resource(const FixtureServer::Request &request) const;
    FixtureServer::Reply download(const FixtureServer::Request &request) const;

    FixtureServer &m_api;
    FixtureServer &m_files;
    QHash<QString, Node> m_nodes; // by path; "" is the shared resource itself
    int m_nextBody = 0;
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
