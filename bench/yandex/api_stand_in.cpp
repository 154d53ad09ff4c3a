#include "api_stand_in.h"

#include "yandex/stream_digest.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

struct Node {
    bool isDir = false;
    QString name;
    QString path; // inside the share, "/..." ("/" for the share itself)
    qint64 size = 0;
    QString sha256; // of a file, listed as the real service lists it: every file is checked
    QStringList children;
};

struct Share {
    QString relative;           // below the data root
    QHash<QString, Node> nodes; // by path
};

void index(Share &share, const QString &absolute, const QString &path)
{
    const QFileInfo info(absolute);
    Node node;
    node.isDir = info.isDir();
    node.name = info.fileName();
    node.path = path;
    node.size = info.size();
    if (!node.isDir)
        node.sha256 = QString::fromLatin1(
            digestOfFile(absolute, ListedDigest::Algorithm::Sha256, CancelToken()).value());
    if (node.isDir) {
        const QStringList entries =
            QDir(absolute).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &entry : entries) {
            const QString child = (path == QLatin1String("/") ? QString() : path) + '/' + entry;
            node.children.append(child);
            index(share, absolute + '/' + entry, child);
        }
    }
    share.nodes.insert(path, node);
}

QString shareKey(const std::string &publicKey)
{
    return QString::fromStdString(publicKey).section('/', -1);
}

void reply(httplib::Response &response, int status, const QJsonObject &object)
{
    response.status = status;
    response.set_content(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(),
                         "application/json");
}

// The direct link of `node` on the file server.
QString hrefOf(const QString &filesBase, const QString &relative, const Node &node)
{
    QString href = filesBase;
    const QString full = relative + (node.path == QLatin1String("/") ? QString() : node.path);
    for (const QString &segment : full.split('/', Qt::SkipEmptyParts))
        href += '/' + QString::fromLatin1(QUrl::toPercentEncoding(segment));
    return href;
}

} // namespace

int serveApiStandIn(const QString &dataRoot, const QString &filesBase, const QStringList &shares,
                    int latencyMs)
{
    QHash<QString, Share> byKey;
    for (const QString &shareText : shares) {
        Share share;
        share.relative = shareText.section('=', 1);
        index(share, dataRoot + '/' + share.relative, QStringLiteral("/"));
        byKey.insert(shareText.section('=', 0, 0), share);
    }

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(16); };
    // Headers and body leave in separate writes; with Nagle on, every answer would wait
    // for the client's delayed acknowledgement (tens of milliseconds).
    server.set_tcp_nodelay(true);
    std::atomic<int> answered{0};
    auto find = [&](const httplib::Request &request) -> const Node * {
        ++answered;
        if (latencyMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(latencyMs));
        const auto share = byKey.constFind(shareKey(request.get_param_value("public_key")));
        if (share == byKey.constEnd())
            return nullptr;
        QString path = QString::fromStdString(request.get_param_value("path"));
        if (path.isEmpty())
            path = QStringLiteral("/");
        const auto node = share->nodes.constFind(path);
        return node == share->nodes.constEnd() ? nullptr : &*node;
    };

    server.Get("/v1/disk/public/resources", [&](const httplib::Request &request,
                                                httplib::Response &response) {
        const Node *node = find(request);
        if (!node)
            return reply(response, 404, {{"error", "DiskNotFoundError"}});
        QJsonObject object{{"type", node->isDir ? "dir" : "file"}, {"name", node->name}};
        if (!node->isDir) {
            object.insert("size", node->size);
            object.insert("sha256", node->sha256);
        }
        const QString fields = QString::fromStdString(request.get_param_value("fields"));
        if (node->isDir && fields.contains(QLatin1String("_embedded"))) {
            const auto share = byKey.constFind(shareKey(request.get_param_value("public_key")));
            const qsizetype offset =
                QString::fromStdString(request.get_param_value("offset")).toLongLong();
            const QString limitText = QString::fromStdString(request.get_param_value("limit"));
            const qsizetype limit = limitText.isEmpty() ? 20 : limitText.toLongLong();
            QJsonArray items;
            for (qsizetype i = offset; i < node->children.size() && i < offset + limit; ++i) {
                const Node &child = share->nodes[node->children.at(i)];
                QJsonObject item{{"type", child.isDir ? "dir" : "file"},
                                 {"name", child.name},
                                 {"path", child.path}};
                if (!child.isDir) {
                    item.insert("size", child.size);
                    item.insert("sha256", child.sha256);
                }
                if (!child.isDir && fields.contains(QLatin1String("_embedded.items.file")))
                    item.insert("file", hrefOf(filesBase, share->relative, child));
                items.append(item);
            }
            object.insert("_embedded",
                          QJsonObject{{"items", items}, {"total", int(node->children.size())}});
        }
        reply(response, 200, object);
    });

    server.Get("/v1/disk/public/resources/download", [&](const httplib::Request &request,
                                                         httplib::Response &response) {
        const Node *node = find(request);
        if (!node || node->isDir)
            return reply(response, 404, {{"error", "DiskNotFoundError"}});
        const auto share = byKey.constFind(shareKey(request.get_param_value("public_key")));
        reply(response, 200,
              {{"href", hrefOf(filesBase, share->relative, *node)}, {"method", "GET"}});
    });

    server.Get("/bench/requests", [&](const httplib::Request &, httplib::Response &response) {
        response.set_content(std::to_string(answered.load()) + "\n", "text/plain");
    });

    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0)
        return 1;
    std::printf("%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
