#include "app/file_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextBoundaryFinder>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

constexpr int kMaxKeptExtension = 16;
constexpr int kLastNumber = 9999;

QString replaceUnsafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const char32_t codePoint : text.toUcs4()) {
        if (codePoint == U'/' || codePoint == U':' || isInvisibleCharacter(codePoint))
            out.append(QLatin1Char('_'));
        else
            out.append(QString::fromUcs4(&codePoint, 1));
    }
    return out;
}

QString trimSpacesAndDots(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto trimmable = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('.'); };
    while (begin < end && trimmable(text.at(begin)))
        ++begin;
    while (end > begin && trimmable(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

int characterCount(const QString &text)
{
    int count = 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

// Index of the dot that starts the last extension, or -1 (names starting with a dot, like
// ".profile", have none).
qsizetype extensionDot(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && dot < name.size() - 1 ? dot : -1;
}

QString limitLength(const QString &name)
{
    if (characterCount(name) <= kMaxNameCharacters && name.toUtf8().size() <= kMaxNameBytes)
        return name;
    const qsizetype dot = extensionDot(name);
    if (dot > 0) {
        const QString extension = name.mid(dot);
        const int extensionCharacters = characterCount(extension);
        if (extensionCharacters - 1 <= kMaxKeptExtension) {
            const QString base = cutToFit(name.left(dot), kMaxNameCharacters - extensionCharacters,
                                          kMaxNameBytes - extension.toUtf8().size());
            if (!base.isEmpty())
                return base + extension;
        }
    }
    return cutToFit(name, kMaxNameCharacters, kMaxNameBytes);
}

// Anything at the path, a dangling symbolic link included.
bool existsOnDisk(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

QString sibling(const QString &path, const QString &name)
{
    return QFileInfo(path).dir().filePath(name);
}

QString partOf(const QString &path)
{
    return path + QStringLiteral(".part");
}

bool isFree(const QString &path, const QSet<QString> &reserved)
{
    return !existsOnDisk(path) && !reserved.contains(reservationKey(path));
}

bool isFreeFile(const QString &path, const QSet<QString> &reserved)
{
    return isFree(path, reserved) && isFree(partOf(path), reserved);
}

template <typename Numbered, typename Free>
QString firstFree(const QString &path, Numbered numbered, Free free)
{
    if (free(path))
        return path;
    for (int n = 2; n <= kLastNumber; ++n) {
        const QString candidate = numbered(path, n);
        if (free(candidate))
            return candidate;
    }
    return sibling(path, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
}

} // namespace

bool isInvisibleCharacter(char32_t codePoint)
{
    const QChar::Category category = QChar::category(codePoint);
    return category == QChar::Other_Control || category == QChar::Other_Format
           || category == QChar::Other_Surrogate;
}

QString cutToFit(const QString &text, int maxCharacters, qsizetype maxBytes)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype keep = 0;
    qsizetype bytes = 0;
    int count = 0;
    while (finder.toNextBoundary() > 0) {
        const qsizetype end = finder.position();
        const qsizetype more = QStringView(text).mid(keep, end - keep).toUtf8().size();
        if (count + 1 > maxCharacters || bytes + more > maxBytes)
            break;
        keep = end;
        bytes += more;
        ++count;
    }
    return text.left(keep);
}

QString safeName(const QString &text)
{
    const QString name = trimSpacesAndDots(replaceUnsafe(text));
    if (name.isEmpty())
        return QStringLiteral("quenlow");
    return limitLength(name);
}

QString reservationKey(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath())
        .normalized(QString::NormalizationForm_C)
        .toCaseFolded();
}

QString numberedFile(const QString &path, int n)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = extensionDot(name);
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    return sibling(path, base + QStringLiteral(" (%1)").arg(n) + extension);
}

QString numberedDirectory(const QString &path, int n)
{
    return sibling(path, QFileInfo(path).fileName() + QStringLiteral(" (%1)").arg(n));
}

QString uniqueDirectory(const QString &path, const QSet<QString> &reserved)
{
    return firstFree(path, numberedDirectory,
                     [&](const QString &candidate) { return isFree(candidate, reserved); });
}

QString uniqueFile(const QString &path, const QSet<QString> &reserved)
{
    return firstFree(path, numberedFile,
                     [&](const QString &candidate) { return isFreeFile(candidate, reserved); });
}

QString reserveDirectory(const QString &path, QSet<QString> &reserved)
{
    const QString chosen = uniqueDirectory(path, reserved);
    reserved.insert(reservationKey(chosen));
    return chosen;
}

QString reserveFile(const QString &path, QSet<QString> &reserved)
{
    const QString chosen = uniqueFile(path, reserved);
    reserved.insert(reservationKey(chosen));
    reserved.insert(reservationKey(partOf(chosen)));
    return chosen;
}

QString reserveDirectoryAsIfEmpty(const QString &path, QSet<QString> &reserved)
{
    const QString chosen = firstFree(path, numberedDirectory, [&](const QString &candidate) {
        return !reserved.contains(reservationKey(candidate));
    });
    reserved.insert(reservationKey(chosen));
    return chosen;
}

QString reserveFileAsIfEmpty(const QString &path, QSet<QString> &reserved)
{
    const QString chosen = firstFree(path, numberedFile, [&](const QString &candidate) {
        return !reserved.contains(reservationKey(candidate))
               && !reserved.contains(reservationKey(partOf(candidate)));
    });
    reserved.insert(reservationKey(chosen));
    reserved.insert(reservationKey(partOf(chosen)));
    return chosen;
}

int renameWithoutReplacing(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE)
        == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    if (::link(source.constData(), target.constData()) != 0)
        return errno;
    ::unlink(source.constData());
    return 0;
}

bool isDiskFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
}
