#include "video/file_placement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace FilePlacement {

namespace {

constexpr int kLastNumber = 9999;

bool occupied(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Atomic "rename unless the target exists". File systems without renameat2 support get a hard
// link (which also refuses an existing target) followed by removing the source.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

AppError fileError(const QString &path)
{
    return AppError(QStringLiteral("Не удалось сохранить файл «%1» в выбранной папке.")
                        .arg(QFileInfo(path).fileName()),
                    ErrorKind::FileSystem);
}

} // namespace

QString numberedPath(const QString &path, int n)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString base = suffix.isEmpty() ? info.fileName() : info.completeBaseName();
    QString name = QStringLiteral("%1 (%2)").arg(base).arg(n);
    if (!suffix.isEmpty())
        name += u'.' + suffix;
    return info.dir().filePath(name);
}

QString key(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString firstFreePath(const QString &path, const QSet<QString> &taken)
{
    if (!occupied(path) && !taken.contains(key(path)))
        return path;
    for (int n = 2; n <= kLastNumber; ++n) {
        const QString candidate = numberedPath(path, n);
        if (!occupied(candidate) && !taken.contains(key(candidate)))
            return candidate;
    }
    return numberedPath(path, kLastNumber + 1);
}

Result<QString> moveWithoutReplacing(const QString &source, const QString &destination)
{
    const QFileInfo target(destination);
    const QString hidden = target.dir().filePath(
        QStringLiteral(".tovrin-%1.part").arg(QUuid::createUuid().toString(QUuid::Id128)));
    // Same file system: a direct rename avoids copying gigabytes; otherwise copy first.
    QString staged = hidden;
    bool copied = false;
    if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(hidden).constData())
        != 0) {
        if (!QFile::copy(source, hidden)) {
            QFile::remove(hidden);
            return fileError(destination);
        }
        copied = true;
    }
    const QByteArray from = QFile::encodeName(staged);
    for (int n = 1; n <= kLastNumber; ++n) {
        const QString candidate = n == 1 ? destination : numberedPath(destination, n);
        const int error = renameNoReplace(from, QFile::encodeName(candidate));
        if (error == 0) {
            if (copied)
                QFile::remove(source);
            return candidate;
        }
        if (error != EEXIST)
            break;
    }
    if (copied)
        QFile::remove(staged);
    else
        ::rename(from.constData(), QFile::encodeName(source).constData());
    return fileError(destination);
}

} // namespace FilePlacement
