#pragma once

#include "app/platform/curl_http_client.h"
#include "engine/tool_installer.h"
#include "support/fake_preferences.h"
#include "support/fixture_server.h"
#include "support/scripts.h"
#include "zip_builder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

// A loopback release feed for both tools, a support folder and a temporary folder for one
// installer test. Asset links redirect to another host name ("localhost"), as the real ones do.
struct InstallScene {
    QTemporaryDir dir;
    FixtureServer server;
    mutable CurlHttpClient http;
    FakePreferences prefs;
    ReleaseTool tool = engineReleaseTool(); // the tool the single-tool helpers act on
    QString support = dir.filePath("support");
    QString temp = dir.filePath("tmp");
    std::function<bool(const QString &, const QString &)> moveFolder;
    ToolFolderUsage usage; // engine runs hold leases from it

    InstallScene() = default;
    explicit InstallScene(ReleaseTool t) : tool(std::move(t)) {}

    static QString sha256(const QByteArray &bytes)
    {
        return QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }
    static QString objectPath(const ReleaseTool &t) { return "/objects/" + t.assetName; }

    // Serves `zip` as the asset of `t` with the given digest text (none: no digest at all), a
    // decoy beside it and, when given, a companion checksum file.
    void publish(const ReleaseTool &t, const QByteArray &zip, const std::optional<QString> &digest,
                 const QString &assetName = {}, const std::optional<QByteArray> &checksum = {})
    {
        QJsonArray assets;
        const auto add = [&](const QString &name, const QByteArray &body,
                             const std::optional<QString> &assetDigest = {}) {
            const QString link = "/download/" + name;
            assets.append(
                QJsonObject{{"name", name},
                            {"browser_download_url", server.url(link)},
                            {"digest", assetDigest ? QJsonValue(*assetDigest) : QJsonValue()}});
            const QByteArray target = QStringLiteral("http://localhost:%1/objects/%2")
                                          .arg(server.port())
                                          .arg(name)
                                          .toUtf8();
            server.handle(link, [target](const FixtureServer::Request &) {
                return FixtureServer::Reply{.status = 302, .headers = {{"Location", target}}};
            });
            server.serveBytes("/objects/" + name, body);
        };
        add(t.assetName + ".sig", "decoy");
        add(assetName.isEmpty() ? t.assetName : assetName, zip, digest);
        if (checksum)
            add(t.assetName + ".sha256sum", *checksum);
        server.serveBytes(
            t.feedPath,
            QJsonDocument(QJsonObject{{"tag_name", "latest"}, {"assets", assets}}).toJson(),
            "application/json");
    }

    // A good release of `t` whose executable prints `marker` whatever it is asked.
    void publishRelease(const ReleaseTool &t, const QByteArray &marker)
    {
        const QByteArray zip = engineZip(t.executableName, marker);
        publish(t, zip, "sha256:" + sha256(zip));
    }

    ToolInstaller installer(const ReleaseTool &t) const
    {
        return ToolInstaller(t, {QUrl(server.baseUrl()), support, temp, &http, moveFolder});
    }
    ToolInstaller installer() const { return installer(tool); }

    // Installs and records the result the way the preparation does.
    Result<InstallResult> install()
    {
        const ToolInstaller inst = installer();
        const auto result = inst.install(inst.installedDigest(prefs), {}, CancelToken(), &usage);
        if (result.ok())
            inst.recordSuccess(prefs, result.value(), QDateTime::currentDateTimeUtc());
        return result;
    }

    QByteArray installedScript() const
    {
        QFile file(installer().installedExecutable());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};
