#include "fake_yandex_disk.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

FixtureServer::Reply json(int status, const QJsonObject &object)
{
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

FixtureServer::Reply notFound()
{
    return json(404, {{"message", "Не удалось найти запрошенный ресурс."}});
}

QJsonObject item(const QString &type, const QString &name, const QString &path)
{
    return {{"type", type}, {"name", name}, {"path", path}};
}

// `object` with only the keys that `fields` names below `prefix` ("" or "_embedded.items.");
// no fields: everything.
QJsonObject asked(const QJsonObject &object, const QString &fields, const QString &prefix)
{
    if (fields.isEmpty())
        return object;
    const QStringList names = fields.split(',');
    QJsonObject kept;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (names.contains(prefix + it.key()))
            kept.insert(it.key(), it.value());
    }
    return kept;
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

FakeYandexDisk::FakeYandexDisk(FixtureServer &api, FixtureServer &files) : m_files(files)
{
    setRootFolder(QStringLiteral("Shared"));
    api.handle(kResources, [this](const FixtureServer::Request &r) { return resource(r); });
    api.handle(QStringLiteral("/v1/disk/public/resources/download"),
               [this](const FixtureServer::Request &r) { return download(r); });
}

void FakeYandexDisk::setRootFolder(const QString &name)
{
    m_items.insert(QString(), item(QStringLiteral("dir"), name, QStringLiteral("/")));
}

void FakeYandexDisk::setRootFile(const QString &name, const QByteArray &content)
{
    addFile(QString(), content);
    m_items[QString()].insert("name", name);
}

void FakeYandexDisk::addFolder(const QString &path)
{
    m_items.insert(path, item(QStringLiteral("dir"), path.section('/', -1), path));
}

void FakeYandexDisk::addFile(const QString &path, const QByteArray &content, bool listSize,
                             bool listLink)
{
    const QString body = QStringLiteral("/files/%1").arg(m_bodies.size());
    m_bodies.insert(path, body);
    m_files.serveBytes(body, content);
    QJsonObject listed =
        item(QStringLiteral("file"), path.section('/', -1), path.isEmpty() ? "/" : path);
    if (listSize)
        listed.insert("size", content.size());
    if (listLink)
        listed.insert("file", m_files.url(body));
    for (const auto algorithm : {QCryptographicHash::Sha256, QCryptographicHash::Md5})
        listed.insert(algorithm == QCryptographicHash::Md5 ? "md5" : "sha256",
                      QString(QCryptographicHash::hash(content, algorithm).toHex()));
    m_items.insert(path, listed);
}

void FakeYandexDisk::addRawItem(const QString &folder, const QString &type, const QString &name,
                                const QString &path)
{
    m_items.insert(folder + QStringLiteral("/raw:%1").arg(m_items.size()), item(type, name, path));
}

FixtureServer::Reply FakeYandexDisk::resource(const FixtureServer::Request &request) const
{
    const QString key = keyOf(request);
    if (request.queryValue("public_key") != kPublicLink || !m_items.contains(key))
        return notFound();
    const QString fields = request.queryValue("fields");
    QJsonObject object = asked(m_items.value(key), fields, {});
    if (m_items.value(key).value("type") == "dir" && fields.contains("_embedded")) {
        QList<QJsonObject> children;
        for (auto it = m_items.cbegin(); it != m_items.cend(); ++it) {
            if (!it.key().isEmpty() && it.key().section('/', 0, -2) == key)
                children.append(asked(it.value(), fields, "_embedded.items."));
        }
        QJsonArray page;
        for (const QJsonObject &child : children.mid(request.queryValue("offset").toInt(),
                                                     request.queryValue("limit").toInt()))
            page.append(child);
        object.insert("_embedded", QJsonObject{{"items", page}, {"total", children.size()}});
    }
    return json(200, object);
}

FixtureServer::Reply FakeYandexDisk::download(const FixtureServer::Request &request) const
{
    const QString body = m_bodies.value(keyOf(request));
    if (request.queryValue("public_key") != kPublicLink || body.isEmpty())
        return notFound();
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
    options.networkPollSeconds = 0.1;
    options.networkWaitSeconds = networkWaitSeconds;
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
