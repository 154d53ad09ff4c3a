#include "fake_yandex_disk.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

FixtureServer::Reply json(int status, const QJsonObject &object)
{
    FixtureServer::Reply reply;
    reply.status = status;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

FixtureServer::Reply notFound()
{
    return json(404, QJsonObject{{"message", "Не удалось найти запрошенный ресурс."},
                                 {"description", "Resource not found."},
                                 {"error", "DiskNotFoundError"}});
}

} // namespace

FakeYandexDisk::FakeYandexDisk(FixtureServer &api, FixtureServer &files)
    : m_api(api), m_files(files)
{
    setRootFolder(QStringLiteral("Shared"));
    m_api.handle(QStringLiteral("/v1/disk/public/resources"),
                 [this](const FixtureServer::Request &r) { return resource(r); });
    m_api.handle(QStringLiteral("/v1/disk/public/resources/download"),
                 [this](const FixtureServer::Request &r) { return download(r); });
}

void FakeYandexDisk::setRootFolder(const QString &name)
{
    m_nodes.insert(QString(),
                   Node{QStringLiteral("dir"), name, QStringLiteral("/"), {}, {}, {}, {}});
}

void FakeYandexDisk::setRootFile(const QString &name, const QByteArray &content, bool listSize)
{
    Node node{QStringLiteral("file"),
              name,
              QStringLiteral("/"),
              listSize ? std::optional<qint64>(content.size()) : std::nullopt,
              {},
              {},
              QStringLiteral("/files/%1").arg(m_nextBody++)};
    m_files.serveBytes(node.bodyPath, content);
    m_nodes.insert(QString(), node);
}

void FakeYandexDisk::setRootType(const QString &type, const QString &name)
{
    m_nodes.insert(QString(), Node{type, name, QStringLiteral("/"), {}, {}, {}, {}});
}

QString FakeYandexDisk::parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : path.left(slash);
}

void FakeYandexDisk::addFolder(const QString &path)
{
    m_nodes.insert(path, Node{QStringLiteral("dir"), path.section('/', -1), path, {}, {}, {}, {}});
    m_nodes[parentOf(path)].children.append(path);
}

void FakeYandexDisk::addFile(const QString &path, const QByteArray &content, bool listSize)
{
    Node node{QStringLiteral("file"),
              path.section('/', -1),
              path,
              listSize ? std::optional<qint64>(content.size()) : std::nullopt,
              {},
              {},
              QStringLiteral("/files/%1").arg(m_nextBody++)};
    m_files.serveBytes(node.bodyPath, content);
    m_nodes.insert(path, node);
    m_nodes[parentOf(path)].children.append(path);
}

void FakeYandexDisk::addRawItem(const QString &folder, const QByteArray &itemJson)
{
    const QString key = QStringLiteral("raw:%1").arg(m_nextBody++);
    m_nodes.insert(key, Node{{}, {}, {}, {}, itemJson, {}, {}});
    m_nodes[folder].children.append(key);
}

QString FakeYandexDisk::bodyPath(const QString &remotePath) const
{
    return m_nodes.value(remotePath).bodyPath;
}

QList<int> FakeYandexDisk::listedOffsets(const QString &folder) const
{
    QList<int> offsets;
    for (const auto &request : m_api.requests(QStringLiteral("/v1/disk/public/resources"))) {
        const QString path = request.queryValue(QStringLiteral("path"));
        if (path == folder && request.hasQueryItem(QStringLiteral("offset")))
            offsets.append(request.queryValue(QStringLiteral("offset")).toInt());
    }
    return offsets;
}

FixtureServer::Reply FakeYandexDisk::resource(const FixtureServer::Request &request) const
{
    if (request.queryValue(QStringLiteral("public_key")) != kPublicLink)
        return notFound();
    const QString path = request.queryValue(QStringLiteral("path"));
    const QString key = path == QLatin1String("/") ? QString() : path;
    if (!m_nodes.contains(key))
        return notFound();
    const Node &node = m_nodes.value(key);
    QJsonObject object{{"type", node.type}, {"name", node.name}};
    if (node.size)
        object.insert("size", *node.size);
    if (node.type == QLatin1String("dir")
        && request.queryValue(QStringLiteral("fields")).contains(QLatin1String("_embedded"))) {
        const int offset = request.queryValue(QStringLiteral("offset")).toInt();
        const int limit = request.hasQueryItem(QStringLiteral("limit"))
                              ? request.queryValue(QStringLiteral("limit")).toInt()
                              : 20;
        QJsonArray items;
        for (qsizetype i = offset; i < node.children.size() && i < offset + limit; ++i) {
            const Node &child = m_nodes.value(node.children.at(i));
            if (!child.rawJson.isEmpty()) {
                items.append(QJsonDocument::fromJson(child.rawJson).object());
                continue;
            }
            QJsonObject item{{"type", child.type}, {"name", child.name}, {"path", child.path}};
            if (child.size)
                item.insert("size", *child.size);
            items.append(item);
        }
        object.insert("_embedded", QJsonObject{{"items", items},
                                               {"total", int(node.children.size())},
                                               {"offset", offset},
                                               {"limit", limit}});
    }
    return json(200, object);
}

FixtureServer::Reply FakeYandexDisk::download(const FixtureServer::Request &request) const
{
    if (request.queryValue(QStringLiteral("public_key")) != kPublicLink)
        return notFound();
    const QString path = request.queryValue(QStringLiteral("path"));
    const QString key = path == QLatin1String("/") ? QString() : path;
    const Node node = m_nodes.value(key);
    if (node.type != QLatin1String("file"))
        return notFound();
    return json(
        200,
        QJsonObject{{"href", m_files.url(node.bodyPath)}, {"method", "GET"}, {"templated", false}});
}
