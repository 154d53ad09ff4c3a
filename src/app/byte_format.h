#pragma once

#include <QLocale>
#include <QString>

// Decimal byte units, smallest to largest.
enum class ByteUnit { Byte, Kilobyte, Megabyte, Gigabyte, Terabyte };

// The one byte-count text of the program: decimal (1000-based) units in short width and the
// user's locale, e.g. "999 Б", "1,5 МБ", "5 ГБ" in Russian. The unit is the largest power of
// 1000 (between minUnit and maxUnit) that keeps the number below 1000.
QString formatByteCount(qint64 bytes, ByteUnit minUnit = ByteUnit::Byte,
                        ByteUnit maxUnit = ByteUnit::Terabyte, const QLocale &locale = QLocale());
