#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <mutex>

// Where a run's workers leave their progress for the run's job. Transfers report
// at curl's rate from the transfer thread; the run's job takes everything at its 500 ms
// refresh, so the UI thread does work per refresh, not per callback or per file.
// One board per run, owned by its job; thread-safe.
class ProgressBoard {
public:
    struct Snapshot {
        QHash<QString, qint64> written;          // latest byte count of files in flight
        QList<QPair<QString, qint64>> completed; // finished files and their sizes
        qint64 receivedBytes = 0;                // every byte received in the run so far
        bool anyActivity = false;                // a transfer has reported at least once
    };

    // A file's cumulative byte count (it falls back when a transfer starts over).
    void report(const QString &id, qint64 written);
    void complete(const QString &id, qint64 size);

    // What changed since the last take; `receivedBytes` is the running total.
    Snapshot take();
    bool anyActivity() const;

private:
    mutable std::mutex m_mutex;
    QHash<QString, qint64> m_last; // last count per file, for the received total
    QHash<QString, qint64> m_changed;
    QList<QPair<QString, qint64>> m_completed;
    qint64 m_received = 0;
    bool m_activity = false;
};
