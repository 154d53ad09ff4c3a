#include "fake_yandex_disk.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

FixtureServer::Reply json(int status, const QJsonObject &object)
{
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

FixtureServer::Reply notFound()
{
    return json(404, QJsonObject{{"message", "Не удалось найти запрошенный ресурс."},
                                 {"description", "Resource not found."},
                                 {"error", "DiskNotFoundError"}});
}

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : path.left(slash);
}

} // namespace

QByteArray patterned(qsizetype size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed * 101 + i / 509) & 0xff);
    return bytes;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

FakeYandexDisk::FakeYandexDisk(FixtureServer &api, FixtureServer &files)
    : m_api(api), m_files(files)
{
    setRootFolder(QStringLiteral("Shared"));
    m_api.handle(QStringLiteral("/v1/disk/public/resources"),
                 [this](const FixtureServer::Request &r) { return resource(r); });
    m_api.handle(QStringLiteral("/v1/disk/public/resources/download"),
                 [this](const FixtureServer::Request &r) { return download(r); });
}

FakeYandexDisk::Node FakeYandexDisk::fileNode(const QString &path, const QString &name,
                                              const QByteArray &content, bool listSize)
{
    const QString body = QStringLiteral("/files/%1").arg(m_nextBody++);
    m_files.serveBytes(body, content);
    return {QStringLiteral("file"),
            name,
            path,
            listSize ? std::optional<qint64>(content.size()) : std::nullopt,
            {},
            {},
            body};
}

void FakeYandexDisk::addChild(const QString &path, Node node)
{
    m_nodes.insert(path, std::move(node));
    m_nodes[parentOf(path)].children.append(path);
}

void FakeYandexDisk::setRootFile(const QString &name, const QByteArray &content, bool listSize)
{
    m_nodes.insert(QString(), fileNode(QStringLiteral("/"), name, content, listSize));
}

void FakeYandexDisk::setRootType(const QString &type, const QString &name)
{
    m_nodes.insert(QString(), Node{type, name, QStringLiteral("/"), {}, {}, {}, {}});
}

void FakeYandexDisk::addFolder(const QString &path)
{
    addChild(path, Node{QStringLiteral("dir"), path.section('/', -1), path, {}, {}, {}, {}});
}

void FakeYandexDisk::addFile(const QString &path, const QByteArray &content, bool listSize)
{
    addChild(path, fileNode(path, path.section('/', -1), content, listSize));
}

void FakeYandexDisk::addRawItem(const QString &folder, const QByteArray &itemJson)
{
    addChild(folder + QStringLiteral("/raw:%1").arg(m_nextBody++),
             Node{{}, {}, {}, {}, itemJson, {}, {}});
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
    const QString path = request.queryValue(QStringLiteral("path"));
    const QString key = path == QLatin1String("/") ? QString() : path;
    if (request.queryValue(QStringLiteral("public_key")) != kPublicLink || !m_nodes.contains(key))
        return notFound();
    const Node &node = m_nodes[key];
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
            const Node &child = m_nodes[node.children.at(i)];
            QJsonObject item{{"type", child.type}, {"name", child.name}, {"path", child.path}};
            if (child.size)
                item.insert("size", *child.size);
            items.append(child.rawJson.isEmpty() ? item
                                                 : QJsonDocument::fromJson(child.rawJson).object());
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
    const QString path = request.queryValue(QStringLiteral("path"));
    const Node node = m_nodes.value(path == QLatin1String("/") ? QString() : path);
    if (request.queryValue(QStringLiteral("public_key")) != kPublicLink
        || node.type != QLatin1String("file"))
        return notFound();
    return json(
        200,
        QJsonObject{{"href", m_files.url(node.bodyPath)}, {"method", "GET"}, {"templated", false}});
}

DiskScene::DiskScene(QString link) : m_link(std::move(link))
{
    create();
}

void DiskScene::create()
{
    manager.reset();
    DownloadManagerOptions options;
    options.apiBaseUrl = api.baseUrl();
    options.sleep = sleep.function();
    manager = std::make_unique<DownloadManager>(
        DownloadManager::Services{http, prefs, clock, locations, desktop}, options);
    if (!m_link.isEmpty())
        manager->setPublicLink(m_link);
}

bool DiskScene::runToEnd()
{
    manager->start();
    return QTest::qWaitFor([this] { return manager->canStart(); }, 30000);
}
