#include "yandex/run_links.h"

#include "app/platform/preference_keys.h"
#include "app/platform/preference_values.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

const QString kKey = QString(PreferenceKeys::kYandexRunLinks);

// The id as the history stores it: canonical, upper-case.
QString keyOf(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

RunLinks::RunLinks(Preferences &prefs) : m_prefs(prefs)
{
    const std::optional<QByteArray> data = readData(m_prefs, kKey);
    if (!data)
        return;
    const QJsonObject object = QJsonDocument::fromJson(*data).object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.value().isString())
            m_links.insert(keyOf(QUuid::fromString(it.key())), it.value().toString());
    }
}

std::optional<QString> RunLinks::link(const QUuid &id) const
{
    const auto found = m_links.constFind(keyOf(id));
    return found == m_links.constEnd() ? std::nullopt : std::optional(*found);
}

void RunLinks::add(const QUuid &id, const QString &link)
{
    m_links.insert(keyOf(id), link);
    save();
}

void RunLinks::keepOnly(const QList<DownloadHistoryItem> &items)
{
    QSet<QString> kept;
    for (const DownloadHistoryItem &item : items)
        kept.insert(keyOf(item.id));
    if (m_links.removeIf([&](const auto &entry) { return !kept.contains(entry.key()); }) > 0)
        save();
}

void RunLinks::save()
{
    if (m_links.isEmpty()) {
        m_prefs.remove(kKey);
        return;
    }
    QJsonObject object;
    for (auto it = m_links.cbegin(); it != m_links.cend(); ++it)
        object.insert(it.key(), it.value());
    m_prefs.setValue(kKey, QJsonDocument(object).toJson(QJsonDocument::Compact));
}
