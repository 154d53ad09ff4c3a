#include "app/date_format.h"

#include <QTimeZone>

#include <unicode/datefmt.h>
#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <memory>

QString formatHistoryDate(const QDateTime &date, const QLocale &locale)
{
    if (!date.isValid())
        return QString();
    const QByteArray name = locale.name().toLatin1();
    const icu::Locale icuLocale(name.constData());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(icuLocale, status));
    if (U_FAILURE(status))
        return locale.toString(date.toLocalTime(), QLocale::ShortFormat);
    const icu::UnicodeString pattern = generator->getBestPattern(u"dMMMjmm", status);
    icu::SimpleDateFormat format(pattern, icuLocale, status);
    if (U_FAILURE(status))
        return locale.toString(date.toLocalTime(), QLocale::ShortFormat);
    // Shown in the computer's own time zone, like every other clock on the desktop.
    const QByteArray zone = QTimeZone::systemTimeZoneId();
    format.adoptTimeZone(icu::TimeZone::createTimeZone(
        icu::UnicodeString::fromUTF8(icu::StringPiece(zone.constData(), int(zone.size())))));
    icu::UnicodeString out;
    format.format(UDate(date.toMSecsSinceEpoch()), out);
    return QString(reinterpret_cast<const QChar *>(out.getBuffer()), out.length());
}
