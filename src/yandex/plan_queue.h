#pragma once

#include "yandex/folder_scan.h"

#include <QList>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

// The files of a folder run in listing order, handed from the scan to the download workers
// as the scan finds them: the first transfers start while the rest of the folder is still
// being listed. Thread-safe.
class PlanQueue {
public:
    void add(const FilePlan &plan);
    // No more files will come: the scan ended, either way.
    void close();
    // The workers are to take nothing more: the run failed or was stopped.
    void stop();

    // Blocks until the next file is there; its index in listing order and its plan. Nothing
    // once the queue is closed and every file taken, or once it is stopped.
    std::optional<std::pair<qsizetype, FilePlan>> take();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QList<FilePlan> m_plans;
    qsizetype m_next = 0;
    bool m_closed = false;
    bool m_stopped = false;
};
