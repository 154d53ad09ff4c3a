#pragma once

#include "support/fixture_server.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// A stand-in for the public Yandex Disk API on a FixtureServer: one shared resource (a
// folder tree or a single file) answered page by page as the real service does, with
// download links that point at file bodies served by `files` (the same server or another).
class FakeYandexDisk {
public:
    static inline const QString kPublicLink = QStringLiteral("https://disk.yandex.ru/d/TestKey");

    FakeYandexDisk(FixtureServer &api, FixtureServer &files);

    // The shared resource is a folder named `name` (the default: "Shared").
    void setRootFolder(const QString &name);
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
    FixtureServer::Reply resource(const FixtureServer::Request &request) const;
    FixtureServer::Reply download(const FixtureServer::Request &request) const;
    static QString parentOf(const QString &path);

    FixtureServer &m_api;
    FixtureServer &m_files;
    QHash<QString, Node> m_nodes; // by path; "" is the shared resource itself
    QHash<QString, QList<QString>> m_rawChildren;
    int m_nextBody = 0;
};
