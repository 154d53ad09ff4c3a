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
                                        const QString &destinationRoot, int maxConcurrent,
                                        const QString &continueInto)
{
    m_maxConcurrent = std::max(maxConcurrent, 1);
    m_continuing = !continueInto.isEmpty();
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    Result<PublicResource> resource =
        m_api.resource(link.publicURL, link.path, std::nullopt, std::nullopt,
                       QStringLiteral("type,name,size,sha256,md5"), m_gate.token());
    if (!resource)
        return resource.error();
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();

    const PublicResource &found = resource.value();
    const QString target = QDir(destinationRoot).filePath(safeName(found.name));
    if (found.type == QLatin1String("dir"))
        return performFolder(link, m_continuing ? continueInto : uniqueDirectory(target));
    if (found.type == QLatin1String("file"))
        return performFile(link, m_continuing ? continueInto : uniqueFile(target), found);
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
        collectFiles(m_api, link.publicURL, link.path, root, m_gate, m_hooks.status,
                     m_continuing ? ScanNaming::AsBefore : ScanNaming::Fresh);
    if (!plans)
        return plans.error();
    qint64 totalBytes = 0;
    for (const FilePlan &plan : plans.value()) {
        totalBytes += plan.size;
        // A differing file's new name must not take a name that the plan gives another file.
        m_reserved.insert(reservationKey(plan.destination));
        m_reserved.insert(reservationKey(plan.destination + QStringLiteral(".part")));
    }
    m_hooks.totals(int(plans.value().size()), totalBytes);

    if (Status done = downloadFiles(plans.value(), link.publicURL); !done)
        return done.error();
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
    auto askedLink = [this, &link] {
        return m_api.downloadURL(link.publicURL, link.path, m_gate.token());
    };
    Result<qint64> written = kept.value()
                                 ? Result<qint64>(*kept.value())
                                 : downloadFile(plan, link.path, askedLink, link.publicURL);
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
    for (const FilePlan &plan : plans) {
        // Continuing, a file already in place is most likely kept: no link asked ahead for it.
        needsLink.append(plan.downloadLink.isEmpty()
                         && !(m_continuing && QFileInfo::exists(plan.destination)));
    }
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
            FilePlan target = plan;
            Result<std::optional<qint64>> kept =
                settleExisting(target.destination, plan.remotePath.section(QLatin1Char('/'), -1),
                               plan.size, ListedDigest::fromListing(plan.sha256, plan.md5));
            // A file that the pipeline was told it would keep asks its own link when it differs.
            auto askedLink = [&, index]() -> Result<QUrl> {
                if (needsLink.at(index))
                    return links.take(index);
                return m_api.downloadURL(publicURL, plan.remotePath, m_gate.token());
            };
            Result<qint64> size = !kept ? Result<qint64>(kept.error())
                                  : kept.value()
                                      ? Result<qint64>(*kept.value())
                                      : downloadFile(target, plan.remotePath, askedLink, publicURL);
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
    transfer.digest = ListedDigest::fromListing(plan.sha256, plan.md5);
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
