#pragma once

#include "app/download_history_item.h"

#include <QStringList>
#include <QUuid>

// `n` history entries that cycle through every result, newest first.
inline QList<DownloadHistoryItem> sampleHistory(int n)
{
    const QStringList names = {"Отчёт за квартал.pdf",
                               "Фотографии с дачи",
                               "Презентация.key",
                               "Архив проекта.zip",
                               "Музыка",
                               "Лекции",
                               "Документы"};
    QList<DownloadHistoryItem> items;
    for (int i = 0; i < n; ++i)
        items.append({QUuid::createUuid(), names.at(i % names.size()), "/tmp",
                      QDateTime::currentDateTime().addSecs(-3600 * i),
                      DownloadHistoryItem::Result(i % 3),
                      i % 3 == 1 ? QStringLiteral("Ошибка: Публичная ссылка не найдена")
                                 : QStringLiteral("Готово · 12 файлов · 48 МБ")});
    return items;
}
