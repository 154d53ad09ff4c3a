#include "yandex/download_run.h"

#include "app/file_names.h"

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
        return performFile(link, m_continuing ? continueInto : uniqueFile(target), found.name,
                           found.size.value_or(0),
                           ListedDigest::fromListing(found.sha256, found.md5));
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
                                            const QString &name, qint64 size,
                                            const ListedDigest &digest)
{
    size = std::max<qint64>(size, 0);
    Result<std::optional<qint64>> kept = settleExisting(destination, name, size, digest);
    if (!kept)
        return kept.error();
    m_hooks.output(destination);
    m_hooks.totals(1, size);
    Result<qint64> written = kept.value() ? Result<qint64>(*kept.value())
                                          : downloadFile(kSingleFileId, link.path, destination,
                                                         size, digest, link.publicURL);
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
            QString destination = plan.destination;
            Result<std::optional<qint64>> kept = settleExisting(
                destination, plan.remotePath.section(QLatin1Char('/'), -1), plan.size, plan.digest);
            Result<qint64> size = !kept ? Result<qint64>(kept.error())
                                  : kept.value()
                                      ? Result<qint64>(*kept.value())
                                      : downloadFile(plan.id, plan.remotePath, destination,
                                                     plan.size, plan.digest, publicURL);
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
                m_coordinator.cancelAll();
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

Result<qint64> DownloadRun::downloadFile(const QString &id,
                                         const std::optional<QString> &remotePath,
                                         const QString &destination, qint64 listedSize,
                                         const ListedDigest &digest, const QString &publicURL)
{
    const CancelToken &token = m_gate.token();
    if (Status ready = m_gate.waitUntilReady(); !ready)
        return ready.error();
    Result<QUrl> link = m_api.downloadURL(publicURL, remotePath, token);
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
    transfer.listedSize = listedSize;
    transfer.digest = digest;
    transfer.renewLink = [this, &publicURL, &remotePath, &token] {
        return m_api.downloadURL(publicURL, remotePath, token);
    };
    Status fetched = m_coordinator.download(
        transfer, [this, &id](qint64 written, qint64) { m_board.report(id, written); }, token);
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
