#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// A history entry's date as the user's locale writes day, abbreviated month, hour and minute
// (no year, no seconds; 24-hour or 12-hour as the locale prefers), e.g. "4 мар., 05:06".
QString formatHistoryDate(const QDateTime &date, const QLocale &locale = QLocale());
