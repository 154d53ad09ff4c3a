#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>

#include <optional>

// One finished run or job, as both history lists keep it.
struct DownloadHistoryItem {
    enum class Result { Completed, Failed, Canceled };

    QUuid id;
    QString name;
    QString path;
    QDateTime date;
    Result result = Result::Completed;
    QString message;

    bool operator==(const DownloadHistoryItem &other) const = default;
};

Q_DECLARE_METATYPE(DownloadHistoryItem)

// The stored form: a JSON array of objects with the keys id, name, path, date, result and
// message. The id is written upper-case; the date is seconds since 2001-01-01 00:00:00 UTC.
QByteArray encodeHistory(const QList<DownloadHistoryItem> &items);
// Nothing when the data is not an array of complete records; one bad record spoils the list.
std::optional<QList<DownloadHistoryItem>> decodeHistory(const QByteArray &json);

// Seconds since 2001-01-01 00:00:00 UTC, the epoch of the stored dates.
double secondsSinceReferenceDate(const QDateTime &date);
QDateTime dateFromReferenceSeconds(double seconds);
