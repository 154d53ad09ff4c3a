#pragma once

#include "app/app_error.h"
#include "app/cancel_token.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct DigestHasher;
class StreamDigest;

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

// One thread that hashes the bodies of every file in flight, so that a fast link is not slowed
// down by the hash. Bodies reach it in blocks from a fixed pool that is used again and again:
// a folder of thousands of small files costs neither a thread nor fresh memory per file (fresh
// pages fault in one by one, which on a virtual machine costs more than the hash). The pool is
// bounded, so memory stays small when the disk is faster than the hash: the writer then waits.
class DigestWorker {
public:
    DigestWorker();
    ~DigestWorker();

    DigestWorker(const DigestWorker &) = delete;
    DigestWorker &operator=(const DigestWorker &) = delete;

private:
    friend class StreamDigest;
    // 32 blocks of 256 KiB: at most 8 MiB waiting for the hash.
    static constexpr qsizetype kBlockSize = qsizetype(256) << 10;
    static constexpr int kMaxBlocks = 32;
    struct Block {
        std::unique_ptr<char[]> data;
        qsizetype used = 0;
    };
    struct Task {
        StreamDigest *owner = nullptr;
        Block block; // empty: start the owner's hash over
    };

    Block takeBlock();
    void release(Block block);
    void submit(StreamDigest *owner, Block block);
    void waitIdle(const StreamDigest *owner);
    void hashLoop();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Task> m_tasks;
    std::vector<Block> m_free;
    int m_blocks = 0; // allocated so far, free or in use
    bool m_hashing = false;
    bool m_quit = false;
    std::thread m_thread;
};

// Hashes one file's body while it is written, so a finished file is checked without being read
// again. One instance follows one file through all its attempts: restart() when the body starts
// over from byte 0. add(), restart() and result() come from one thread at a time.
class StreamDigest {
public:
    StreamDigest(ListedDigest::Algorithm algorithm, DigestWorker &worker);
    ~StreamDigest();

    StreamDigest(const StreamDigest &) = delete;
    StreamDigest &operator=(const StreamDigest &) = delete;

    void restart();
    void add(const char *data, qsizetype size);
    // The digest of everything handed in since the last restart, lower-case hexadecimal; waits
    // until the worker has caught up. Adding may go on afterwards.
    QByteArray result();

private:
    friend class DigestWorker;
    void flush();

    DigestWorker &m_worker;
    std::unique_ptr<DigestHasher> m_hasher; // the worker's while blocks of ours are queued
    DigestWorker::Block m_open;             // being filled by the writer
    int m_queued = 0;                       // tasks at the worker; under its mutex
};

// The digest of a whole file on disk, lower-case hexadecimal: for files that a run finds already
// in place. Ends with CancelToken::stopped() when `cancel` fires.
Result<QByteArray> digestOfFile(const QString &path, ListedDigest::Algorithm algorithm,
                                const CancelToken &cancel);
