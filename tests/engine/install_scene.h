#pragma once

#include "app/platform/curl_http_client.h"
#include "engine/tool_installer.h"
#include "support/fake_preferences.h"
#include "support/fixture_server.h"
#include "zip_builder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>

// A loopback release feed, a support folder and a temporary folder for one installer test. The
// asset link redirects to another host name ("localhost"), as the real one does.
struct InstallScene {
    QTemporaryDir dir;
    FixtureServer server;
    mutable CurlHttpClient http;
    FakePreferences prefs;
    ReleaseTool tool = engineReleaseTool();
    QString support = dir.filePath("support");
    QString temp = dir.filePath("tmp");
    std::function<bool(const QString &, const QString &)> moveFolder;

    static QString sha256(const QByteArray &bytes)
    {
        return QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }

    QString feedPath() const { return tool.feedPath; }
    QString assetPath() const { return QStringLiteral("/download/") + tool.assetName; }
    QString objectPath() const { return QStringLiteral("/objects/") + tool.assetName; }

    // Serves `zip` as the asset with the given digest text (null: no digest at all).
    void publish(const QByteArray &zip, const std::optional<QString> &digest,
                 const QString &assetName = {})
    {
        QJsonObject asset{{"name", assetName.isEmpty() ? tool.assetName : assetName},
                          {"browser_download_url", server.url(assetPath())},
                          {"digest", digest ? QJsonValue(*digest) : QJsonValue()}};
        QJsonObject decoy{{"name", tool.assetName + ".sig"},
                          {"browser_download_url", server.url("/download/sig")},
                          {"digest", QJsonValue()}};
        server.serveBytes(feedPath(),
                          QJsonDocument(QJsonObject{{"tag_name", "nightly"},
                                                    {"assets", QJsonArray{decoy, asset}}})
                              .toJson(),
                          "application/json");
        const QString target =
            QStringLiteral("http://localhost:%1").arg(server.port()) + objectPath();
        server.handle(assetPath(), [target](const FixtureServer::Request &) {
            FixtureServer::Reply reply;
            reply.status = 302;
            reply.headers = {{"Location", target.toUtf8()}};
            reply.body = {};
            return reply;
        });
        server.serveBytes(objectPath(), zip);
    }

    void publishEngine(const QByteArray &marker)
    {
        const QByteArray zip = engineZip(tool.executableName, marker);
        publish(zip, "sha256:" + sha256(zip));
    }

    ToolInstaller installer() const
    {
        InstallerSetup setup;
        setup.feedBaseUrl = QUrl(server.baseUrl());
        setup.supportFolder = support;
        setup.tempFolder = temp;
        setup.http = &http;
        setup.moveFolder = moveFolder;
        return ToolInstaller(tool, setup);
    }

    // Installs and records the result the way the preparation does.
    Result<InstallResult> install(QList<double> *progress = nullptr,
                                  ToolFolderUsage *usage = nullptr)
    {
        const ToolInstaller inst = installer();
        const auto result = inst.install(
            inst.installedDigest(prefs),
            [progress](double v) {
                if (progress)
                    progress->append(v);
            },
            CancelToken(), usage);
        if (result.ok())
            inst.recordSuccess(prefs, result.value(), QDateTime::currentDateTimeUtc());
        return result;
    }

    QByteArray installedScript() const
    {
        QFile file(installer().installedExecutable());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QStringList programFolderEntries() const
    {
        return QDir(installer().programFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    QStringList tempEntries() const
    {
        return QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
};
