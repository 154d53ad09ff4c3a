#include "yandex/download_run.h"

#include "app/file_names.h"
#include "yandex/link_pipeline.h"
#include "yandex/plan_queue.h"

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
                                        const QString &destinationRoot, int maxConcurrent,
                                        const QString &continueInto)
{
    m_maxConcurrent = std::max(maxConcurrent, 1);
    m_continuing = !continueInto.isEmpty();
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    // A folder's answer carries its first page too: one round trip less before the first
    // transfer starts.
    Result<PublicResource> resource = m_api.resource(
        link.publicURL, link.path, 0, kListingPageSize,
        QStringLiteral("size,sha256,md5,") + YandexAPI::listingFields(), m_gate.token());
    if (!resource)
        return resource.error();
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();

    const PublicResource &found = resource.value();
    const QString target = QDir(destinationRoot).filePath(safeName(found.name));
    if (found.type == QLatin1String("dir"))
        return performFolder(link, m_continuing ? continueInto : uniqueDirectory(target), found);
    if (found.type == QLatin1String("file"))
        return performFile(link, m_continuing ? continueInto : uniqueFile(target), found);
    return AppError(QStringLiteral("Яндекс вернул неизвестный тип ресурса"), ErrorKind::Decoding);
}

Result<RunSummary> DownloadRun::performFolder(const YandexPublicLink &link, const QString &root,
                                              const PublicResource &found)
{
    if (!QDir().mkpath(root))
        return AppError(QStringLiteral("Не удалось создать папку «%1»").arg(fileNameOf(root)),
                        ErrorKind::FileSystem);
    m_hooks.output(root);
    m_hooks.status(QStringLiteral("Сканируется содержимое папки…"));

    PlanQueue queue;
    // Links the listing did not give are asked ahead of the transfers that need them.
    LinkPipeline links(
        [&](const QString &remotePath) { return askLink(link.publicURL, remotePath); },
        2 * LinkPipeline::kMaxInFlight);
    std::vector<std::thread> workers;
    // Each worker takes the next file as soon as its own is done, so a new transfer starts the
    // moment one finishes and at most m_maxConcurrent are ever in flight.
    auto startWorkers = [&] {
        for (int i = 0; i < m_maxConcurrent; ++i)
            workers.emplace_back([&] { downloadQueued(queue, links, link.publicURL); });
    };
    // A new run's names are final as planned, so its first files download while the rest of
    // the folder is listed. Continuing, a file that differs takes a numbered name that no
    // planned file may take: the whole plan comes first.
    if (!m_continuing)
        startWorkers();

    ScanHooks hooks;
    hooks.status = m_hooks.status;
    hooks.planned = [&](const FilePlan &plan) {
        if (m_continuing) {
            std::lock_guard lock(m_namesMutex);
            m_reserved.insert(reservationKey(plan.destination));
            m_reserved.insert(reservationKey(plan.destination + QStringLiteral(".part")));
        }
        // Continuing, a file already in place is most likely kept: no link asked ahead for it.
        const bool needsLink =
            plan.downloadLink.isEmpty() && !(m_continuing && QFileInfo::exists(plan.destination));
        links.add(needsLink ? std::optional(plan.remotePath) : std::nullopt);
        queue.add(plan);
    };
    Result<QList<FilePlan>> plans =
        collectFiles(m_api, link.publicURL, link.path, root, m_gate, hooks,
                     m_continuing ? ScanNaming::AsBefore : ScanNaming::Fresh,
                     found.embedded ? std::optional(found) : std::nullopt);
    queue.close();
    if (plans) {
        qint64 totalBytes = 0;
        for (const FilePlan &plan : plans.value())
            totalBytes += plan.size;
        m_hooks.totals(int(plans.value().size()), totalBytes);
    } else {
        endFiles(plans.error(), queue);
    }
    if (m_continuing && plans)
        startWorkers();
    for (std::thread &worker : workers)
        worker.join();

    if (m_failure)
        return *m_failure;
    if (m_stopped)
        return CancelToken::stopped();
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    return RunSummary{true, root};
}

Result<RunSummary> DownloadRun::performFile(const YandexPublicLink &link, QString destination,
                                            const PublicResource &found)
{
    const qint64 size = std::max<qint64>(found.size.value_or(0), 0);
    Result<std::optional<qint64>> kept = settleExisting(
        destination, found.name, size, ListedDigest::fromListing(found.sha256, found.md5));
    if (!kept)
        return kept.error();
    m_hooks.output(destination);
    m_hooks.totals(1, size);
    const FilePlan plan{kSingleFileId, {}, destination, size, {}, found.sha256, found.md5};
    Result<qint64> written = kept.value() ? Result<qint64>(*kept.value())
                                          : downloadFile(plan, link.path, link.publicURL);
    if (!written)
        return written.error();
    m_board.complete(kSingleFileId, written.value());
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    return RunSummary{false, destination};
}

void DownloadRun::downloadQueued(PlanQueue &queue, LinkPipeline &links, const QString &publicURL)
{
    while (std::optional<std::pair<qsizetype, FilePlan>> next = queue.take()) {
        const auto &[index, plan] = *next;
        FilePlan target = plan;
        Result<std::optional<qint64>> kept =
            settleExisting(target.destination, plan.remotePath.section(QLatin1Char('/'), -1),
                           plan.size, ListedDigest::fromListing(plan.sha256, plan.md5));
        // The pipeline's link for a file that needs one; a file that the pipeline was told would
        // be kept asks its own when it differs.
        std::function<Result<QUrl>()> askedLink;
        if (links.asks(index))
            askedLink = [&links, index = index] { return links.take(index); };
        Result<qint64> size = !kept ? Result<qint64>(kept.error())
                              : kept.value()
                                  ? Result<qint64>(*kept.value())
                                  : downloadFile(target, plan.remotePath, publicURL, askedLink);
        if (!size) {
            endFiles(size.error(), queue);
            return;
        }
        m_board.complete(plan.id, size.value());
    }
}

void DownloadRun::endFiles(const AppError &error, PlanQueue &queue)
{
    std::lock_guard lock(m_endMutex);
    queue.stop();
    if (m_gate.isCancelled()) {
        m_stopped = true;
    } else if (!m_failure) {
        // One failure ends the run: the other transfers stop, finished files stay.
        m_failure = error;
        m_gate.cancel();
        m_coordinator.stop(m_gate);
    }
}

Result<std::optional<qint64>> DownloadRun::settleExisting(QString &destination,
                                                          const QString &listedName,
                                                          qint64 listedSize,
                                                          const ListedDigest &digest)
{
    if (!m_continuing)
        return std::optional<qint64>();
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    const QFileInfo existing(destination);
    if (!existing.exists() && !existing.isSymLink())
        return std::optional<qint64>();
    bool same = existing.isFile() && !existing.isSymLink()
                && (listedSize <= 0 || existing.size() == listedSize);
    if (same && !digest.isEmpty()) {
        Result<QByteArray> local = digestOfFile(destination, digest.algorithm, m_gate.token());
        if (!local)
            return local.error();
        same = local.value() == digest.hex;
    }
    if (same)
        return std::optional<qint64>(existing.size());
    // Never replaced: the listed file goes beside it.
    std::lock_guard lock(m_namesMutex);
    destination =
        reserveFile(QFileInfo(destination).dir().filePath(safeName(listedName)), m_reserved);
    return std::optional<qint64>();
}

Result<QUrl> DownloadRun::askLink(const QString &publicURL,
                                  const std::optional<QString> &remotePath)
{
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    return m_api.downloadURL(publicURL, remotePath, m_gate.token());
}

Result<qint64> DownloadRun::downloadFile(const FilePlan &plan,
                                         const std::optional<QString> &remotePath,
                                         const QString &publicURL,
                                         const std::function<Result<QUrl>()> &askedLink)
{
    const QString &id = plan.id;
    const QString &destination = plan.destination;
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    const bool listed = !plan.downloadLink.isEmpty();
    Result<QUrl> link = listed      ? Result<QUrl>(plan.downloadLink)
                        : askedLink ? askedLink()
                                    : askLink(publicURL, remotePath);
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
    transfer.digest = ListedDigest::fromListing(plan.sha256, plan.md5);
    transfer.renewLink = [&] { return askLink(publicURL, remotePath); };
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
