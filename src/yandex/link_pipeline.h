#pragma once

#include "app/app_error.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

// Asks the direct links of a run's files ahead of their transfers, so that no transfer waits
// on an API round trip: a few requests in flight at once, in file order, a bounded distance
// ahead of the files being taken (a link fetched too early may expire before its use). Only
// the files that need a link are asked for. The files come in as the folder's listing finds
// them, while the first ones are already taken. Owned by the run's download pool; thread-safe.
class LinkPipeline {
public:
    // Asks the link of the file at `remotePath`; called on the pipeline's threads, several at
    // once.
    using Fetch = std::function<Result<QUrl>(const QString &remotePath)>;
    static constexpr int kMaxInFlight = 8;

    // `lookahead`: how far past the latest file taken links may be asked.
    LinkPipeline(Fetch fetch, qsizetype lookahead);
    // Ends the pipeline: links not yet asked for never are; requests in flight end with the
    // run's token, which the owner cancels first when the run stops.
    ~LinkPipeline();

    LinkPipeline(const LinkPipeline &) = delete;
    LinkPipeline &operator=(const LinkPipeline &) = delete;

    // The next file of the run, by index from 0: its remote path when it needs a link, nothing
    // when it has one.
    void add(const std::optional<QString> &remotePath);

    // Whether file `index` was added as one that needs a link.
    bool asks(qsizetype index);
    // Blocks until the link of file `index` (one that needs it) has been asked; once per file.
    Result<QUrl> take(qsizetype index);

private:
    void fetchLoop();

    const Fetch m_fetch;
    const qsizetype m_lookahead;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QList<std::optional<QString>> m_files; // guarded by m_mutex
    qsizetype m_needed = 0;
    qsizetype m_nextToAsk = 0;  // the next file the fetchers look at
    qsizetype m_takenUpTo = -1; // the latest file whose link was taken
    std::unordered_map<qsizetype, Result<QUrl>> m_ready;
    bool m_ending = false;
    std::vector<std::thread> m_fetchers;
};
