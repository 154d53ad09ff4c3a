#pragma once

#include <QString>
#include <QUuid>

// A video job's folder for the engine's and FFmpeg's files: hidden inside the destination folder,
// so that it is on the destination's file system (the finished file is renamed into place, never
// copied, and a RAM-backed temporary folder is never filled), and locked with flock on a file
// inside for as long as the job holds it, so that a later start of the program can tell the
// folder of a live job from one that a crash left behind. Made and removed on the job's worker.
class WorkFolder {
public:
    // Makes and locks "<destination>/.tovrin-<id>"; error() says whether that worked.
    WorkFolder(const QString &destination, const QUuid &id);
    // Removes the folder with everything in it, then lets go of the lock.
    ~WorkFolder();
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;

    const QString &path() const { return m_path; }
    // 0, or the errno of making or locking the folder.
    int error() const { return m_error; }

    // The lock file's name inside the folder; it is none of the engine's files.
    static bool isLockFile(const QString &name);

    // Removes, in `destination`, the work folders that no live job holds and the hidden ".part"
    // files that an interrupted placing of a finished file left. Run at start-up before any
    // job, and for a folder the user picks; the user's own files are never touched.
    static void sweep(const QString &destination);

private:
    QString m_path;
    int m_lock = -1;
    int m_error = 0;
};
