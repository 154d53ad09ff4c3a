#include "yandex/stream_digest.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr qint64 kFileSlice = qint64(1) << 20;

const EVP_MD *digestType(ListedDigest::Algorithm algorithm)
{
    return algorithm == ListedDigest::Algorithm::Md5 ? EVP_md5() : EVP_sha256();
}

} // namespace

ListedDigest ListedDigest::fromListing(const QString &sha256, const QString &md5)
{
    if (!sha256.isEmpty())
        return {Algorithm::Sha256, sha256.trimmed().toLower().toLatin1()};
    if (!md5.isEmpty())
        return {Algorithm::Md5, md5.trimmed().toLower().toLatin1()};
    return {};
}

// One running hash over OpenSSL (which uses the processor's SHA instructions where present).
struct DigestHasher {
    explicit DigestHasher(ListedDigest::Algorithm algorithm)
        : type(digestType(algorithm)), context(EVP_MD_CTX_new())
    {
        reset();
    }
    ~DigestHasher() { EVP_MD_CTX_free(context); }
    void reset() { EVP_DigestInit_ex(context, type, nullptr); }
    void add(const char *data, qsizetype size) { EVP_DigestUpdate(context, data, size_t(size)); }
    // The digest so far; the context goes on unchanged.
    QByteArray hex() const
    {
        EVP_MD_CTX *copy = EVP_MD_CTX_new();
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_MD_CTX_copy_ex(copy, context);
        EVP_DigestFinal_ex(copy, digest, &length);
        EVP_MD_CTX_free(copy);
        return QByteArray(reinterpret_cast<const char *>(digest), length).toHex();
    }

    const EVP_MD *type;
    EVP_MD_CTX *context;
};

DigestWorker::DigestWorker() : m_thread([this] { hashLoop(); })
{
}

DigestWorker::~DigestWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

DigestWorker::Block DigestWorker::takeBlock()
{
    std::unique_lock lock(m_mutex);
    // Past the bound the writer waits for the hash to give a block back; unless nothing is
    // queued, when every block is being filled by a file in flight and waiting frees none.
    m_changed.wait(lock, [this] {
        return !m_free.empty() || m_blocks < kMaxBlocks || (m_tasks.empty() && !m_hashing);
    });
    if (m_free.empty()) {
        ++m_blocks;
        return Block{std::make_unique<char[]>(kBlockSize), 0};
    }
    Block block = std::move(m_free.back());
    m_free.pop_back();
    return block;
}

void DigestWorker::submit(StreamDigest *owner, Block block)
{
    {
        std::lock_guard lock(m_mutex);
        ++owner->m_queued;
        m_tasks.push_back(Task{owner, std::move(block)});
    }
    m_changed.notify_all();
}

void DigestWorker::release(Block block)
{
    {
        std::lock_guard lock(m_mutex);
        block.used = 0;
        m_free.push_back(std::move(block));
    }
    m_changed.notify_all();
}

void DigestWorker::waitIdle(const StreamDigest *owner)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [owner] { return owner->m_queued == 0; });
}

void DigestWorker::hashLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || !m_tasks.empty(); });
        if (m_tasks.empty())
            return; // quitting, and every owner has waited for its blocks
        Task task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_hashing = true;
        lock.unlock();
        if (task.block.data)
            task.owner->m_hasher->add(task.block.data.get(), task.block.used);
        else
            task.owner->m_hasher->reset();
        lock.lock();
        m_hashing = false;
        if (task.block.data) {
            task.block.used = 0;
            m_free.push_back(std::move(task.block));
        }
        --task.owner->m_queued;
        m_changed.notify_all();
    }
}

StreamDigest::StreamDigest(ListedDigest::Algorithm algorithm, DigestWorker &worker)
    : m_worker(worker), m_hasher(std::make_unique<DigestHasher>(algorithm))
{
}

StreamDigest::~StreamDigest()
{
    if (m_open.data)
        m_worker.release(std::move(m_open));
    m_worker.waitIdle(this); // the worker may still be hashing blocks of ours
}

void StreamDigest::flush()
{
    if (m_open.data && m_open.used > 0) {
        m_worker.submit(this, std::move(m_open));
        m_open = {};
    }
}

void StreamDigest::restart()
{
    // What is still queued belongs to the abandoned body; the worker resets the hash before it
    // takes anything handed in from now on.
    m_open.used = 0;
    m_worker.submit(this, {});
}

void StreamDigest::add(const char *data, qsizetype size)
{
    while (size > 0) {
        if (!m_open.data)
            m_open = m_worker.takeBlock();
        const qsizetype room = DigestWorker::kBlockSize - m_open.used;
        const qsizetype n = std::min(size, room);
        std::memcpy(m_open.data.get() + m_open.used, data, size_t(n));
        m_open.used += n;
        data += n;
        size -= n;
        if (m_open.used == DigestWorker::kBlockSize)
            flush();
    }
}

QByteArray StreamDigest::result()
{
    flush();
    m_worker.waitIdle(this);
    return m_hasher->hex();
}

Result<QByteArray> digestOfFile(const QString &path, ListedDigest::Algorithm algorithm,
                                const CancelToken &cancel)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return AppError(
            QStringLiteral("Не удалось прочитать файл «%1»").arg(QFileInfo(path).fileName()),
            ErrorKind::FileSystem);
    DigestHasher hasher(algorithm);
    QByteArray slice;
    for (;;) {
        if (cancel.isCancelled())
            return CancelToken::stopped();
        slice = file.read(kFileSlice);
        if (slice.isEmpty())
            break;
        hasher.add(slice.constData(), slice.size());
    }
    if (file.error() != QFileDevice::NoError)
        return AppError(
            QStringLiteral("Не удалось прочитать файл «%1»").arg(QFileInfo(path).fileName()),
            ErrorKind::FileSystem);
    return hasher.hex();
}
