#include "yandex/file_naming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextBoundaryFinder>
#include <QUuid>

#include <sys/stat.h>

namespace {

constexpr int kMaxCharacters = 180;
constexpr qsizetype kMaxBytes = 200;
constexpr int kMaxKeptExtension = 16;
constexpr int kLastNumber = 9999;

bool isUnsafe(char32_t codePoint)
{
    if (codePoint == U'/' || codePoint == U':')
        return true;
    const QChar::Category category = QChar::category(codePoint);
    // Lone surrogates cannot be written as UTF-8 file names either.
    return category == QChar::Other_Control || category == QChar::Other_Format
           || category == QChar::Other_Surrogate;
}

QString replaceUnsafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const char32_t codePoint : text.toUcs4()) {
        if (isUnsafe(codePoint))
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

// Positions after each user-perceived character.
QList<qsizetype> characterEnds(const QString &text)
{
    QList<qsizetype> ends;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    while (finder.toNextBoundary() > 0)
        ends.append(finder.position());
    return ends;
}

bool fits(const QString &text, int maxCharacters, qsizetype maxBytes)
{
    return characterEnds(text).size() <= maxCharacters && text.toUtf8().size() <= maxBytes;
}

// The longest prefix of whole characters within both limits.
QString cutToFit(const QString &text, int maxCharacters, qsizetype maxBytes)
{
    qsizetype keep = 0;
    int count = 0;
    for (const qsizetype end : characterEnds(text)) {
        if (count + 1 > maxCharacters || QStringView(text).left(end).toUtf8().size() > maxBytes)
            break;
        keep = end;
        ++count;
    }
    return text.left(keep);
}

// Index of the dot that starts the last extension, or -1 (names starting with a dot,
// like ".profile", have none).
qsizetype extensionDot(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && dot < name.size() - 1 ? dot : -1;
}

QString limitLength(const QString &name)
{
    if (fits(name, kMaxCharacters, kMaxBytes))
        return name;
    const qsizetype dot = extensionDot(name);
    if (dot > 0) {
        const QString extension = name.mid(dot);
        const int extensionCharacters = int(characterEnds(extension).size());
        if (extensionCharacters - 1 <= kMaxKeptExtension) {
            const QString base = cutToFit(name.left(dot), kMaxCharacters - extensionCharacters,
                                          kMaxBytes - extension.toUtf8().size());
            if (!base.isEmpty())
                return base + extension;
        }
    }
    return cutToFit(name, kMaxCharacters, kMaxBytes);
}

// Anything at the path, a dangling symbolic link included.
bool isTaken(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

QString sibling(const QString &path, const QString &name)
{
    return QFileInfo(path).dir().filePath(name);
}

QString freshUuidName()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

template <typename IsFree>
QString firstFree(const QString &path, bool numberBeforeExtension, IsFree isFree)
{
    if (isFree(path))
        return path;
    const QString name = QFileInfo(path).fileName();
    QString base = name;
    QString extension;
    if (numberBeforeExtension) {
        const qsizetype dot = extensionDot(name);
        if (dot > 0) {
            base = name.left(dot);
            extension = name.mid(dot);
        }
    }
    for (int n = 2; n <= kLastNumber; ++n) {
        const QString candidate = sibling(path, base + QStringLiteral(" (%1)").arg(n) + extension);
        if (isFree(candidate))
            return candidate;
    }
    return sibling(path, freshUuidName());
}

QString partOf(const QString &path)
{
    return path + QStringLiteral(".part");
}

} // namespace

QString safeName(const QString &text)
{
    QString name = trimSpacesAndDots(replaceUnsafe(text));
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

QString uniqueDirectory(const QString &path)
{
    return firstFree(path, false, [](const QString &candidate) { return !isTaken(candidate); });
}

QString uniqueFile(const QString &path)
{
    return firstFree(path, true, [](const QString &candidate) {
        return !isTaken(candidate) && !isTaken(partOf(candidate));
    });
}

QString uniqueDirectory(const QString &path, QSet<QString> &reserved)
{
    const QString chosen = firstFree(path, false, [&](const QString &candidate) {
        return !isTaken(candidate) && !reserved.contains(reservationKey(candidate));
    });
    reserved.insert(reservationKey(chosen));
    return chosen;
}

QString uniqueFile(const QString &path, QSet<QString> &reserved)
{
    const QString chosen = firstFree(path, true, [&](const QString &candidate) {
        return !isTaken(candidate) && !isTaken(partOf(candidate))
               && !reserved.contains(reservationKey(candidate))
               && !reserved.contains(reservationKey(partOf(candidate)));
    });
    reserved.insert(reservationKey(chosen));
    reserved.insert(reservationKey(partOf(chosen)));
    return chosen;
}
