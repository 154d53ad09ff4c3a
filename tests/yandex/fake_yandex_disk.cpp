#include "fake_yandex_disk.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

FixtureServer::Reply json(int status, const QJsonObject &object)
{
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

QJsonObject item(const QString &type, const QString &name, const QString &path)
{
    return {{"type", type}, {"name", name}, {"path", path}};
}

// The node a request names: "" for the shared resource itself, as the service takes "/".
QString keyOf(const FixtureServer::Request &request)
{
    const QString path = request.queryValue("path");
    return path == "/" ? QString() : path;
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

SleepFn RecordingSleep::function()
{
    return [this](double seconds, const CancelToken &cancel) {
        {
            std::lock_guard lock(m_mutex);
            m_delays.append(seconds);
        }
        return cancel.sleepFor(seconds * m_scale);
    };
}

QList<double> RecordingSleep::delays() const
{
    std::lock_guard lock(m_mutex);
    return m_delays;
}

FakeYandexDisk::FakeYandexDisk(FixtureServer &api, FixtureServer &files) : m_files(files)
{
    setRootFolder(QStringLiteral("Shared"));
    api.handle(QStringLiteral("/v1/disk/public/resources"),
               [this](const FixtureServer::Request &r) { return resource(r); });
    api.handle(QStringLiteral("/v1/disk/public/resources/download"),
               [this](const FixtureServer::Request &r) { return download(r); });
}

void FakeYandexDisk::add(const QString &key, const Node &node)
{
    m_nodes.insert(key, node);
    if (!key.isEmpty())
        m_nodes[key.left(std::max<qsizetype>(0, key.lastIndexOf('/')))].children.append(key);
}

void FakeYandexDisk::setRootType(const QString &type, const QString &name)
{
    add(QString(), {item(type, name, QStringLiteral("/")), {}, {}});
}

void FakeYandexDisk::addFolder(const QString &path)
{
    add(path, {item(QStringLiteral("dir"), path.section('/', -1), path), {}, {}});
}

void FakeYandexDisk::setRootFile(const QString &name, const QByteArray &content)
{
    addFile(QString(), content);
    m_nodes[QString()].item.insert("name", name);
}

void FakeYandexDisk::addFile(const QString &path, const QByteArray &content, bool listSize)
{
    Node node{item(QStringLiteral("file"), path.section('/', -1), path.isEmpty() ? "/" : path),
              {},
              QStringLiteral("/files/%1").arg(m_next++)};
    if (listSize)
        node.item.insert("size", content.size());
    m_files.serveBytes(node.body, content);
    add(path, node);
}

void FakeYandexDisk::addRawItem(const QString &folder, const QString &type, const QString &name,
                                const QString &path)
{
    add(folder + QStringLiteral("/raw:%1").arg(m_next++), {item(type, name, path), {}, {}});
}

FixtureServer::Reply FakeYandexDisk::resource(const FixtureServer::Request &request) const
{
    const auto node = m_nodes.constFind(keyOf(request));
    if (request.queryValue("public_key") != kPublicLink || node == m_nodes.cend())
        return json(404, {{"message", "Не удалось найти запрошенный ресурс."}});
    QJsonObject object = node->item;
    if (object.value("type") == "dir" && request.queryValue("fields").contains("_embedded")) {
        QJsonArray items;
        const QStringList page = node->children.mid(request.queryValue("offset").toInt(),
                                                    request.queryValue("limit").toInt());
        for (const QString &child : page)
            items.append(m_nodes.value(child).item);
        object.insert("_embedded",
                      QJsonObject{{"items", items}, {"total", int(node->children.size())}});
    }
    return json(200, object);
}

FixtureServer::Reply FakeYandexDisk::download(const FixtureServer::Request &request) const
{
    const QString body = m_nodes.value(keyOf(request)).body;
    if (request.queryValue("public_key") != kPublicLink || body.isEmpty())
        return json(404, {{"message", "Не удалось найти запрошенный ресурс."}});
    return json(200, {{"href", m_files.url(body)}, {"method", "GET"}});
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
    return QTest::qWaitFor([this] { return state().canStart(); }, 30000);
}
