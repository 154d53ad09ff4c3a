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
#include <QTest>
#include <QThread>

#include <memory>

// Runs `work` on a worker thread and waits: version probes block and run an event loop of their
// own, never on the test's thread.
inline void onAWorker(const std::function<void()> &work)
{
    QThread *worker = QThread::create(work);
    worker->start();
    worker->wait();
    delete worker;
}

// A stand-in program: a shell script with this body.
inline void writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

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

    static QString sha256(const QByteArray &bytes)
    {
        return QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }

    // An "isRuntime" column with a row per tool, for the tests that both tools share.
    static void addToolRows()
    {
        QTest::addColumn<bool>("isRuntime");
        QTest::newRow("engine") << false;
        QTest::newRow("runtime") << true;
    }
    // The tool of the current row of such a test.
    static ReleaseTool rowTool()
    {
        QFETCH(bool, isRuntime);
        return isRuntime ? runtimeReleaseTool() : engineReleaseTool();
    }

    InstallScene() = default;
    explicit InstallScene(ReleaseTool t) : tool(std::move(t)) {}

    QString feedPath() const { return tool.feedPath; }
    static QString objectPath(const ReleaseTool &t) { return "/objects/" + t.assetName; }
    QString objectPath() const { return objectPath(tool); }

    // Serves `zip` as the asset of `t` with the given digest text (null: no digest at all) and,
    // when given, a companion checksum file.
    void publish(const ReleaseTool &t, const QByteArray &zip, const std::optional<QString> &digest,
                 const QString &assetName = {}, const std::optional<QByteArray> &checksum = {})
    {
        QJsonArray assets;
        const auto add = [&](const QString &name, const QByteArray &body,
                             const std::optional<QString> &assetDigest) {
            const QString link = "/download/" + name, object = "/objects/" + name;
            assets.append(
                QJsonObject{{"name", name},
                            {"browser_download_url", server.url(link)},
                            {"digest", assetDigest ? QJsonValue(*assetDigest) : QJsonValue()}});
            const QByteArray target =
                QStringLiteral("http://localhost:%1").arg(server.port()).toUtf8() + object.toUtf8();
            server.handle(link, [target](const FixtureServer::Request &) {
                return FixtureServer::Reply{.status = 302, .headers = {{"Location", target}}};
            });
            server.serveBytes(object, body);
        };
        add(t.assetName + ".sig", "decoy", std::nullopt);
        add(assetName.isEmpty() ? t.assetName : assetName, zip, digest);
        if (checksum)
            add(t.assetName + ".sha256sum", *checksum, std::nullopt);
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
        InstallerSetup setup;
        setup.feedBaseUrl = QUrl(server.baseUrl());
        setup.supportFolder = support;
        setup.tempFolder = temp;
        setup.http = &http;
        setup.moveFolder = moveFolder;
        return ToolInstaller(t, setup);
    }
    ToolInstaller installer() const { return installer(tool); }

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
