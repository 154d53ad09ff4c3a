#include "app/byte_format.h"

#include <unicode/measunit.h>
#include <unicode/numberformatter.h>

#include <cmath>

namespace {

icu::MeasureUnit icuUnit(ByteUnit unit)
{
    switch (unit) {
    case ByteUnit::Byte:
        return icu::MeasureUnit::getByte();
    case ByteUnit::Kilobyte:
        return icu::MeasureUnit::getKilobyte();
    case ByteUnit::Megabyte:
        return icu::MeasureUnit::getMegabyte();
    case ByteUnit::Gigabyte:
        return icu::MeasureUnit::getGigabyte();
    case ByteUnit::Terabyte:
        return icu::MeasureUnit::getTerabyte();
    }
    return icu::MeasureUnit::getByte();
}

// Bytes and kilobytes are whole numbers; larger units show what matters of the fraction.
int fractionDigits(ByteUnit unit)
{
    switch (unit) {
    case ByteUnit::Byte:
    case ByteUnit::Kilobyte:
        return 0;
    case ByteUnit::Megabyte:
        return 1;
    default:
        return 2;
    }
}

double roundTo(double value, int digits)
{
    const double scale = std::pow(10.0, digits);
    return std::round(value * scale) / scale;
}

} // namespace

QString formatByteCount(qint64 bytes, ByteUnit minUnit, ByteUnit maxUnit, const QLocale &locale)
{
    if (maxUnit < minUnit)
        maxUnit = minUnit;
    ByteUnit unit = minUnit;
    double value = double(bytes) / std::pow(1000.0, int(minUnit));
    // Climb while the rounded number would read 1000 or more in this unit.
    while (unit < maxUnit && std::fabs(roundTo(value, fractionDigits(unit))) >= 1000.0) {
        unit = ByteUnit(int(unit) + 1);
        value /= 1000.0;
    }

    const QByteArray localeName = locale.name().toLatin1();
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString text =
        icu::number::NumberFormatter::withLocale(icu::Locale(localeName.constData()))
            .unit(icuUnit(unit))
            .unitWidth(UNUM_UNIT_WIDTH_SHORT)
            .precision(icu::number::Precision::maxFraction(fractionDigits(unit)))
            .formatDouble(value, status)
            .toString(status);
    if (U_FAILURE(status))
        return QString::number(bytes);
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}
