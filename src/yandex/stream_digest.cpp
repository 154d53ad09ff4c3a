#include "yandex/stream_digest.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>

namespace {

// Past this much unhashed data the writer waits: memory stays bounded when the disk is faster
// than the hash.
constexpr qsizetype kMaxPending = qsizetype(8) << 20;
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

StreamDigest::StreamDigest(ListedDigest::Algorithm algorithm)
    : m_hasher(std::make_unique<DigestHasher>(algorithm)), m_thread([this] { hashLoop(); })
{
}

StreamDigest::~StreamDigest()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void StreamDigest::restart()
{
    std::lock_guard lock(m_mutex);
    // What is still pending belongs to the abandoned body; the hashing thread resets its state
    // before it takes anything handed in from now on.
    m_pending.clear();
    m_size = 0;
    m_restartPending = true;
}

void StreamDigest::add(const char *data, qsizetype size)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_pending.size() < kMaxPending; });
    m_pending.append(data, size);
    m_size += size;
    lock.unlock();
    m_changed.notify_all();
}

qint64 StreamDigest::size() const
{
    std::lock_guard lock(m_mutex);
    return m_size;
}

QByteArray StreamDigest::result()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_pending.isEmpty() && !m_busy && !m_restartPending; });
    return m_hasher->hex();
}

void StreamDigest::hashLoop()
{
    QByteArray working;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || m_restartPending || !m_pending.isEmpty(); });
        if (m_quit)
            return;
        if (m_restartPending) {
            m_hasher->reset();
            m_restartPending = false;
        }
        // Two buffers trade places, so neither side allocates per chunk.
        working.swap(m_pending);
        m_busy = true;
        lock.unlock();
        m_changed.notify_all();
        if (!working.isEmpty())
            m_hasher->add(working.constData(), working.size());
        working.resize(0);
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
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
