// engine-install: a first install of a 50 MB engine archive from a loopback feed (feed query,
// download through a redirect, SHA-256, unpacking, swap) against the same steps done by
// `curl -o`, `sha256sum` and `bsdtar -xf`, run alternately; medians of each side.

#include "app/platform/curl_http_client.h"
#include "engine/tool_installer.h"
#include "support/fixture_server.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRounds = 7;

// About 50 MB like the real build: an executable and a folder of libraries, mostly
// incompressible, deflated.
bool writeArchive(const QString &path)
{
    archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    if (archive_write_open_filename(a, QFile::encodeName(path).constData()) != ARCHIVE_OK)
        return false;
    QRandomGenerator random(42);
    const auto add = [&](const QString &name, const QByteArray &data, int mode) {
        archive_entry *e = archive_entry_new();
        archive_entry_set_pathname(e, name.toUtf8().constData());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, mode);
        archive_entry_set_size(e, data.size());
        archive_write_header(a, e);
        archive_write_data(a, data.constData(), size_t(data.size()));
        archive_entry_free(e);
    };
    QByteArray script = "#!/bin/sh\necho 2025.11.12\n";
    add("yt-dlp_linux", script, 0755);
    for (int i = 0; i < 100; ++i) {
        QByteArray data(500'000, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
        add(QStringLiteral("_internal/lib%1.so").arg(i), data, 0644);
    }
    archive_write_close(a);
    archive_write_free(a);
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString archivePath = dir.filePath("yt-dlp_linux.zip");
    if (!dir.isValid() || !writeArchive(archivePath)) {
        std::puts("engine-install: не удалось подготовить архив");
        return 0;
    }
    QFile archive(archivePath);
    archive.open(QIODevice::ReadOnly);
    const QString sha = QString::fromLatin1(
        QCryptographicHash::hash(archive.readAll(), QCryptographicHash::Sha256).toHex());
    archive.close();

    FixtureServer server;
    const QString feedPath = "/repos/yt-dlp/yt-dlp-nightly-builds/releases/latest";
    const QString objectUrl = server.url("/objects/yt-dlp_linux.zip");
    server.serveFile("/objects/yt-dlp_linux.zip", archivePath);
    server.handle("/download/yt-dlp_linux.zip", [objectUrl](const FixtureServer::Request &) {
        FixtureServer::Reply reply;
        reply.status = 302;
        reply.headers = {{"Location", objectUrl.toUtf8()}};
        return reply;
    });
    const QJsonObject asset{{"name", "yt-dlp_linux.zip"},
                            {"browser_download_url", server.url("/download/yt-dlp_linux.zip")},
                            {"digest", "sha256:" + sha}};
    server.serveBytes(feedPath, QJsonDocument(QJsonObject{{"assets", QJsonArray{asset}}}).toJson(),
                      "application/json");

    CurlHttpClient http;
    ReleaseTool tool = engineReleaseTool();
    tool.executableName = "yt-dlp_linux";
    tool.assetName = "yt-dlp_linux.zip";

    std::vector<double> ours, reference;
    for (int round = 0; round < kRounds; ++round) {
        const QString support = dir.filePath(QStringLiteral("support%1").arg(round));
        InstallerSetup setup{QUrl(server.baseUrl()), support, dir.filePath("tmp"), &http, {}};
        const ToolInstaller installer(tool, setup);
        QElapsedTimer timer;
        timer.start();
        const auto result = installer.install(std::nullopt, {}, CancelToken());
        ours.push_back(timer.nsecsElapsed() / 1e9);
        if (!result.ok()) {
            std::printf("engine-install: установка не удалась: %s\n",
                        qPrintable(result.error().message));
            return 0;
        }
        QDir(support).removeRecursively();

        const QString work = dir.filePath(QStringLiteral("ref%1").arg(round));
        QDir().mkpath(work + "/out");
        const QString script =
            QStringLiteral(
                "curl -sf -H 'Accept: application/vnd.github+json' -o '%1/feed.json' '%2' && "
                "curl -sfL -o '%1/a.zip' '%3' && sha256sum '%1/a.zip' >/dev/null && "
                "bsdtar -xf '%1/a.zip' -C '%1/out' && rm '%1/a.zip'")
                .arg(work, server.url(feedPath), server.url("/download/yt-dlp_linux.zip"));
        timer.restart();
        const int status = QProcess::execute("/bin/sh", {"-c", script});
        reference.push_back(timer.nsecsElapsed() / 1e9);
        if (status != 0) {
            std::puts("engine-install: эталонные команды не сработали");
            return 0;
        }
        QDir(work).removeRecursively();
    }
    const double a = median(ours), b = median(reference);
    std::printf("engine-install: %.3f s / %.3f s = %.2f\n", a, b, a / b);
    return 0;
}
