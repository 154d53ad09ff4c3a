#include "yandex/folder_scan.h"

#include "app/file_names.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

constexpr qint64 kPageSize = 200;
constexpr int kStatusEvery = 100;

struct PendingFolder {
    std::optional<QString> remote;
    QString local;
};

} // namespace

Result<QList<FilePlan>> collectFiles(const YandexAPI &api, const QString &publicURL,
                                     const std::optional<QString> &initialPath, const QString &root,
                                     ControlGate &gate,
                                     const std::function<void(const QString &)> &setStatus,
                                     ScanNaming naming)
{
    const bool asBefore = naming == ScanNaming::AsBefore;
    QList<PendingFolder> work{{initialPath, root}};
    QSet<QString> visited;
    QSet<QString> reserved;
    QList<FilePlan> plans;

    while (!work.isEmpty()) {
        const PendingFolder folder = work.takeLast();
        if (Status ready = gate.waitUntilReady(); !ready)
            return ready.error();
        const QString key = folder.remote.value_or(QStringLiteral("<root>"));
        if (visited.contains(key))
            return AppError(QStringLiteral("Яндекс вернул циклическую структуру папок"),
                            ErrorKind::Decoding);
        visited.insert(key);

        for (qint64 offset = 0;;) {
            if (Status ready = gate.waitUntilReady(); !ready)
                return ready.error();
            Result<PublicResource> page = api.resource(publicURL, folder.remote, offset, kPageSize,
                                                       YandexAPI::listingFields(), gate.token());
            if (!page)
                return page.error();
            if (!page.value().embedded)
                return AppError(QStringLiteral("Яндекс не вернул содержимое папки"),
                                ErrorKind::Decoding);
            const EmbeddedResource &embedded = *page.value().embedded;
            for (const PublicItem &item : embedded.items) {
                if (Status ready = gate.waitUntilReady(); !ready)
                    return ready.error();
                const QString name = safeName(item.name);
                const QString local = QDir(folder.local).filePath(name);
                if (item.type == QLatin1String("dir")) {
                    const QString created = asBefore ? reserveDirectoryAsIfEmpty(local, reserved)
                                                     : reserveDirectory(local, reserved);
                    if (!QDir().mkpath(created))
                        return AppError(QStringLiteral("Не удалось создать папку «%1»")
                                            .arg(QFileInfo(created).fileName()),
                                        ErrorKind::FileSystem);
                    work.append({item.path, created});
                } else if (item.type == QLatin1String("file")) {
                    plans.append(FilePlan{item.path, item.path,
                                          asBefore ? reserveFileAsIfEmpty(local, reserved)
                                                   : reserveFile(local, reserved),
                                          item.size && *item.size > 0 ? *item.size : 0,
                                          item.downloadLink, item.sha256, item.md5});
                    if (plans.size() % kStatusEvery == 0)
                        setStatus(QStringLiteral("Сканируется папка: найдено %1 файлов…")
                                      .arg(plans.size()));
                }
            }
            offset += embedded.items.size();
            if (embedded.items.isEmpty() || offset >= embedded.total)
                break;
        }
    }

    setStatus(plans.isEmpty() ? QStringLiteral("Папка пуста")
                              : QStringLiteral("Начинается загрузка %1 файлов…").arg(plans.size()));
    return plans;
}
