#pragma once

#include "app/app_error.h"
#include "app/cancel_token.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

struct DigestHasher;

// The digest the listing gives for a file: its SHA-256 where listed, else its MD5; empty when
// the listing gave neither, and then the file cannot be checked.
struct ListedDigest {
    enum class Algorithm { Sha256, Md5 };
    Algorithm algorithm = Algorithm::Sha256;
    QByteArray hex; // lower-case hexadecimal

    static ListedDigest fromListing(const QString &sha256, const QString &md5);
    bool isEmpty() const { return hex.isEmpty(); }
    bool operator==(const ListedDigest &other) const = default;
};

// Hashes a file body while it is written, so a finished file is checked without being read
// again. The transfer thread hands each written chunk to add(), which only copies it; the
// hashing runs on a thread of its own, so that a fast link is not slowed down by the hash.
// One instance follows one file through all its attempts: restart() when the body starts over
// from byte 0. add() and restart() come from one thread at a time; result() from any.
class StreamDigest {
public:
    explicit StreamDigest(ListedDigest::Algorithm algorithm);
    ~StreamDigest();

    StreamDigest(const StreamDigest &) = delete;
    StreamDigest &operator=(const StreamDigest &) = delete;

    void restart();
    void add(const char *data, qsizetype size);
    // Bytes handed in since the last restart.
    qint64 size() const;
    // The digest of everything handed in since the last restart, lower-case hexadecimal; waits
    // until the hashing thread has caught up. Adding may go on afterwards.
    QByteArray result();

private:
    void hashLoop();

    std::unique_ptr<DigestHasher>
        m_hasher; // touched by the hashing thread, or under m_mutex when idle
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QByteArray m_pending; // handed in, not hashed yet
    qint64 m_size = 0;
    bool m_restartPending = false;
    bool m_busy = false; // the hashing thread works outside the lock
    bool m_quit = false;
    std::thread m_thread;
};

// The digest of a whole file on disk, lower-case hexadecimal: for files that a run finds already
// in place. Ends with CancelToken::stopped() when `cancel` fires.
Result<QByteArray> digestOfFile(const QString &path, ListedDigest::Algorithm algorithm,
                                const CancelToken &cancel);
