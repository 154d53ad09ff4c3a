#include "yandex/download_run.h"

#include "app/file_names.h"
#include "yandex/link_pipeline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QString fileNameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

} // namespace

DownloadRun::DownloadRun(const YandexAPI &api, TransferCoordinator &coordinator, ControlGate &gate,
                         ProgressBoard &board, Hooks hooks)
    : m_api(api), m_coordinator(coordinator), m_gate(gate), m_board(board),
      m_hooks(std::move(hooks))
{
}

Result<RunSummary> DownloadRun::perform(const YandexPublicLink &link,
                                        const QString &destinationRoot, int maxConcurrent)
{
    m_maxConcurrent = std::max(maxConcurrent, 1);
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    Result<PublicResource> resource =
        m_api.resource(link.publicURL, link.path, std::nullopt, std::nullopt,
                       QStringLiteral("type,name,size"), m_gate.token());
    if (!resource)
        return resource.error();
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();

    const QString name = safeName(resource.value().name);
    const QString target = QDir(destinationRoot).filePath(name);
    if (resource.value().type == QLatin1String("dir"))
        return performFolder(link, uniqueDirectory(target));
    if (resource.value().type == QLatin1String("file"))
        return performFile(link, uniqueFile(target), resource.value().size.value_or(0));
    return AppError(QStringLiteral("Яндекс вернул неизвестный тип ресурса"), ErrorKind::Decoding);
}

Result<RunSummary> DownloadRun::performFolder(const YandexPublicLink &link, const QString &root)
{
    if (!QDir().mkpath(root))
        return AppError(QStringLiteral("Не удалось создать папку «%1»").arg(fileNameOf(root)),
                        ErrorKind::FileSystem);
    m_hooks.output(root);
    m_hooks.status(QStringLiteral("Сканируется содержимое папки…"));

    Result<QList<FilePlan>> plans =
        collectFiles(m_api, link.publicURL, link.path, root, m_gate, m_hooks.status);
    if (!plans)
        return plans.error();
    qint64 totalBytes = 0;
    for (const FilePlan &plan : plans.value())
        totalBytes += plan.size;
    m_hooks.totals(int(plans.value().size()), totalBytes);

    if (Status done = downloadFiles(plans.value(), link.publicURL); !done)
        return done.error();
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    return RunSummary{true, root};
}

Result<RunSummary> DownloadRun::performFile(const YandexPublicLink &link,
                                            const QString &destination, qint64 size)
{
    m_hooks.output(destination);
    m_hooks.totals(1, std::max<qint64>(size, 0));
    const FilePlan plan{kSingleFileId, {}, destination, std::max<qint64>(size, 0), {}, {}, {}};
    Result<qint64> written = downloadFile(
        plan, link.path,
        [this, &link] { return m_api.downloadURL(link.publicURL, link.path, m_gate.token()); },
        link.publicURL);
    if (!written)
        return written.error();
    m_board.complete(kSingleFileId, written.value());
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    return RunSummary{false, destination};
}

Status DownloadRun::downloadFiles(const QList<FilePlan> &plans, const QString &publicURL)
{
    if (plans.isEmpty())
        return Done{};
    std::mutex mutex;
    qsizetype next = 0;
    std::optional<AppError> failure;
    bool cancelled = false;

    // Links the listing did not give are asked ahead of the transfers that need them.
    QList<bool> needsLink;
    for (const FilePlan &plan : plans)
        needsLink.append(plan.downloadLink.isEmpty());
    LinkPipeline links(
        needsLink,
        [&](qsizetype index) -> Result<QUrl> {
            if (Status ready = m_gate.waitUntilReady(); !ready)
                return ready.error();
            return m_api.downloadURL(publicURL, plans.at(index).remotePath, m_gate.token());
        },
        2 * LinkPipeline::kMaxInFlight);

    // Each worker takes the next plan as soon as its file is done, so a new transfer starts
    // the moment one finishes and at most m_maxConcurrent are ever in flight.
    auto worker = [&] {
        for (;;) {
            qsizetype index = 0;
            {
                std::lock_guard lock(mutex);
                if (failure || cancelled || next >= plans.size())
                    return;
                index = next++;
            }
            const FilePlan &plan = plans.at(index);
            Result<qint64> size = downloadFile(
                plan, plan.remotePath, [&links, index] { return links.take(index); }, publicURL);
            if (size) {
                m_board.complete(plan.id, size.value());
                continue;
            }
            std::lock_guard lock(mutex);
            if (m_gate.isCancelled()) {
                cancelled = true;
            } else if (!failure) {
                // One failed file ends the run: the others stop, finished files stay.
                failure = size.error();
                m_gate.cancel();
                m_coordinator.stop(m_gate);
            }
            return;
        }
    };

    const qsizetype count = std::min<qsizetype>(m_maxConcurrent, plans.size());
    std::vector<std::thread> workers;
    workers.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i)
        workers.emplace_back(worker);
    for (std::thread &t : workers)
        t.join();

    if (failure)
        return *failure;
    if (cancelled)
        return CancelToken::stopped();
    return Done{};
}

Result<qint64> DownloadRun::downloadFile(const FilePlan &plan,
                                         const std::optional<QString> &remotePath,
                                         const std::function<Result<QUrl>()> &askedLink,
                                         const QString &publicURL)
{
    const CancelToken &token = m_gate.token();
    const QString &id = plan.id;
    const QString &destination = plan.destination;
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    const bool listed = !plan.downloadLink.isEmpty();
    Result<QUrl> link = listed ? Result<QUrl>(plan.downloadLink) : askedLink();
    if (!link)
        return link.error();
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();

    const QString part = destination + QStringLiteral(".part");
    auto fail = [&part](const AppError &error) -> Result<qint64> {
        QFile::remove(part);
        return error;
    };

    FileTransfer transfer;
    transfer.url = link.value();
    transfer.partPath = part;
    transfer.displayName = fileNameOf(destination);
    transfer.listedSize = plan.size;
    transfer.listedLink = listed;
    transfer.renewLink = [this, &publicURL, &remotePath, &token] {
        return m_api.downloadURL(publicURL, remotePath, token);
    };
    Status fetched = m_coordinator.download(
        transfer, [this, &id](qint64 written, qint64) { m_board.report(id, written); }, m_gate);
    if (!fetched)
        return fail(fetched.error());
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return fail(ready.error());

    if (renameWithoutReplacing(part, destination) != 0)
        return fail(
            AppError(QStringLiteral("Не удалось сохранить файл «%1»").arg(fileNameOf(destination)),
                     ErrorKind::FileSystem));
    struct stat info {};
    if (::stat(QFile::encodeName(destination).constData(), &info) != 0)
        return AppError(
            QStringLiteral("Не удалось прочитать файл «%1»").arg(fileNameOf(destination)),
            ErrorKind::FileSystem);
    return qint64(info.st_size);
}
