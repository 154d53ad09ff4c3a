#include "video/work_folder.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPrefix = QStringLiteral(".tovrin-");
const QString kLockName = QStringLiteral(".tovrin-lock");

QByteArray lockPath(const QString &folder)
{
    return QFile::encodeName(QDir(folder).filePath(kLockName));
}

} // namespace

WorkFolder::WorkFolder(const QString &destination, const QUuid &id)
    : m_path(QDir(destination).filePath(kPrefix + id.toString(QUuid::WithoutBraces)))
{
    if (::mkdir(QFile::encodeName(m_path).constData(), 0700) != 0) {
        m_error = errno;
        return;
    }
    // Close-on-exec: the engine must not inherit the lock and keep the folder "live" forever.
    m_lock = ::open(lockPath(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0)
        m_error = errno;
}

WorkFolder::~WorkFolder()
{
    if (m_error != EEXIST)
        QDir(m_path).removeRecursively();
    if (m_lock >= 0)
        ::close(m_lock);
}

bool WorkFolder::isLockFile(const QString &name)
{
    return name == kLockName;
}

void WorkFolder::sweep(const QString &destination)
{
    const QDir folder(destination);
    const QFileInfoList found = folder.entryInfoList(
        {kPrefix + u'*'}, QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : found) {
        if (entry.isSymLink())
            continue;
        if (entry.isFile()) {
            if (entry.fileName().endsWith(QLatin1String(".part")))
                QFile::remove(entry.absoluteFilePath());
            continue;
        }
        // A live job holds its lock; a folder whose lock can be taken was left by a run that
        // ended without cleaning up.
        const int lock = ::open(lockPath(entry.absoluteFilePath()).constData(), O_RDWR | O_CLOEXEC);
        if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
            ::close(lock);
            continue;
        }
        QDir(entry.absoluteFilePath()).removeRecursively();
        if (lock >= 0)
            ::close(lock);
    }
}
