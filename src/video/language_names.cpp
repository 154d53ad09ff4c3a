#include "video/language_names.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>

namespace {

QString fromIcu(const icu::UnicodeString &text)
{
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

} // namespace

std::optional<QString> russianLanguageName(const QString &tag)
{
    const QString trimmed = tag.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    QByteArray bcp47 = trimmed.toUtf8();
    bcp47.replace('_', '-');
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale = icu::Locale::forLanguageTag(bcp47.constData(), status);
    if (U_FAILURE(status) || locale.isBogus())
        return std::nullopt;
    const QString code = QString::fromLatin1(locale.getLanguage());
    if (code.isEmpty() || code == u"und")
        return std::nullopt;

    const icu::Locale russian("ru", "RU");
    icu::UnicodeString name;
    locale.getDisplayLanguage(russian, name);
    const QString plain = fromIcu(name);
    if (plain.isEmpty() || plain.compare(code, Qt::CaseInsensitive) == 0
        || plain.compare(trimmed, Qt::CaseInsensitive) == 0)
        return std::nullopt;

    UErrorCode breakStatus = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> words(
        icu::BreakIterator::createWordInstance(russian, breakStatus));
    if (U_FAILURE(breakStatus))
        return plain;
    name.toTitle(words.get(), russian);
    return fromIcu(name);
}
