#include "video/merged_file_name.h"

#include <QList>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

constexpr int kMaxCharacters = 180;
constexpr qsizetype kMaxTitleBytes = 200;
constexpr qsizetype kMaxNameBytes = 255;
constexpr qsizetype kMaxIdBytes = 64;
// " (9999)" and the dot before the extension.
constexpr qsizetype kCounterRoom = 8;

bool isForbidden(char32_t c)
{
    switch (c) {
    case U'/':
    case U':':
    case U'\\':
    case U'?':
    case U'%':
    case U'*':
    case U'|':
    case U'"':
    case U'<':
    case U'>':
        return true;
    default:
        return false;
    }
}

QString cleaned(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (isForbidden(c)) {
            out.append(u'-');
            continue;
        }
        const QChar::Category category = QChar::category(c);
        const bool lineBreak = c == U'\n' || c == U'\r';
        if (!lineBreak
            && (category == QChar::Other_Control || category == QChar::Other_Format
                || category == QChar::Other_Surrogate))
            out.append(u'_');
        else
            out.append(QString::fromUcs4(&c, 1));
    }
    return out;
}

// The longest prefix of whole user-perceived characters within both limits.
QString cutToFit(const QString &text, int maxCharacters, qsizetype maxBytes)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype keep = 0;
    int count = 0;
    while (finder.toNextBoundary() > 0) {
        const qsizetype end = finder.position();
        if (count + 1 > maxCharacters || QStringView(text).left(end).toUtf8().size() > maxBytes)
            break;
        keep = end;
        ++count;
    }
    return text.left(keep);
}

} // namespace

QString mergedBaseName(const QString &title, const QString &mediaID, int extensionLength)
{
    QString id = cleaned(mediaID).trimmed();
    if (id.isEmpty())
        id = QStringLiteral("media");
    id = cutToFit(id, kMaxCharacters, kMaxIdBytes);
    const QString suffix = QStringLiteral(" [") + id + u']';

    QString name = cleaned(title).trimmed();
    // Line breaks were kept only so trimming could drop them at the ends; inside they go.
    for (QChar &c : name) {
        if (c == u'\n' || c == u'\r')
            c = u'_';
    }
    // A title made only of forbidden characters and spaces says nothing.
    const bool onlyJoins =
        std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c == u'-' || c.isSpace(); });
    if (onlyJoins)
        name = QStringLiteral("video");
    const qsizetype budget = std::min(kMaxTitleBytes, kMaxNameBytes - suffix.toUtf8().size()
                                                          - extensionLength - kCounterRoom);
    name = cutToFit(name, kMaxCharacters, budget).trimmed();
    if (name.isEmpty())
        name = QStringLiteral("video");
    return name + suffix;
}
