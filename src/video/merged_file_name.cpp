#include "video/merged_file_name.h"

#include "app/file_names.h"

#include <algorithm>

namespace {

// What Linux allows per name.
constexpr qsizetype kLinuxNameBytes = 255;
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
        const bool lineBreak = c == U'\n' || c == U'\r';
        if (isForbidden(c))
            out.append(u'-');
        else if (!lineBreak && isInvisibleCharacter(c))
            out.append(u'_');
        else
            out.append(QString::fromUcs4(&c, 1));
    }
    return out;
}

} // namespace

QString mergedBaseName(const QString &title, const QString &mediaID, int extensionLength)
{
    QString id = cleaned(mediaID).trimmed();
    if (id.isEmpty())
        id = QStringLiteral("media");
    id = cutToFit(id, kMaxNameCharacters, kMaxIdBytes);
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
    const qsizetype budget = std::min(kMaxNameBytes, kLinuxNameBytes - suffix.toUtf8().size()
                                                         - extensionLength - kCounterRoom);
    name = cutToFit(name, kMaxNameCharacters, budget).trimmed();
    if (name.isEmpty())
        name = QStringLiteral("video");
    return name + suffix;
}
