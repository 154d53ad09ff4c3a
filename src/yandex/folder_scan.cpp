#include "yandex/folder_scan.h"

#include "app/file_names.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <deque>
#include <future>

namespace {

constexpr int kStatusEvery = 100;

struct PendingFolder {
    std::optional<QString> remote;
    QString local;
};

// The pages of one folder's listing, in order. Once the first page tells how many items the
// folder holds, the pages after it are asked several at once: over a real network each costs
// a round trip, and a folder of thousands of files would otherwise wait on them one by one.
// A page that comes back shorter than asked (the folder changed meanwhile) throws away what
// was asked past it, and the listing goes on from where that page ended.
class FolderPages {
public:
    // `first`: the first page, when it is already here.
    FolderPages(const YandexAPI &api, const QString &publicURL, const std::optional<QString> &path,
                ControlGate &gate, const std::optional<PublicResource> &first)
        : m_api(api), m_publicURL(publicURL), m_path(path), m_gate(gate)
    {
        if (!first)
            return;
        std::promise<Result<PublicResource>> ready;
        ready.set_value(*first);
        m_ahead.push_back({0, ready.get_future()});
        m_asked = kListingPageSize;
    }

    // The next page; nothing after the last.
    Result<std::optional<PublicResource>> next()
    {
        if (m_done)
            return std::optional<PublicResource>();
        if (m_ahead.empty() || m_ahead.front().offset != m_offset) {
            m_ahead.clear();
            m_asked = m_offset;
            ask();
        }
        Result<PublicResource> page = m_ahead.front().page.get();
        m_ahead.pop_front();
        if (!page)
            return page.error();
        if (const std::optional<EmbeddedResource> &embedded = page.value().embedded) {
            m_offset += embedded->items.size();
            m_total = embedded->total;
            m_done = embedded->items.isEmpty() || m_offset >= m_total;
            while (!m_done && qsizetype(m_ahead.size()) < kPagesAhead && m_asked < m_total)
                ask();
        }
        return std::optional<PublicResource>(page.value());
    }

private:
    struct Asked {
        qint64 offset;
        std::future<Result<PublicResource>> page;
    };

    void ask()
    {
        const qint64 offset = m_asked;
        m_asked += kListingPageSize;
        m_ahead.push_back({offset, std::async(std::launch::async, [this, offset] {
                               return m_api.resource(m_publicURL, m_path, offset, kListingPageSize,
                                                     YandexAPI::listingFields(), m_gate.token());
                           })});
    }

    static constexpr qsizetype kPagesAhead = 6;
    const YandexAPI &m_api;
    const QString &m_publicURL;
    const std::optional<QString> m_path;
    ControlGate &m_gate;
    std::deque<Asked> m_ahead; // asked, in offset order
    qint64 m_offset = 0;       // the next item to hand out
    qint64 m_asked = 0;        // the offset of the next page to ask
    qint64 m_total = 0;
    bool m_done = false;
};

} // namespace

Result<QList<FilePlan>> collectFiles(const YandexAPI &api, const QString &publicURL,
                                     const std::optional<QString> &initialPath, const QString &root,
                                     ControlGate &gate, const ScanHooks &hooks, ScanNaming naming,
                                     const std::optional<PublicResource> &firstPage)
{
    const bool asBefore = naming == ScanNaming::AsBefore;
    QList<PendingFolder> work{{initialPath, root}};
    QSet<QString> visited;
    QSet<QString> reserved;
    QList<FilePlan> plans;

    while (!work.isEmpty()) {
        const PendingFolder folder = work.takeLast();
        if (Status ready = gate.waitUntilReady(); !ready)
            return ready.error();
        const QString key = folder.remote.value_or(QStringLiteral("<root>"));
        if (visited.contains(key))
            return AppError(QStringLiteral("Яндекс вернул циклическую структуру папок"),
                            ErrorKind::Decoding);
        visited.insert(key);

        // The first folder walked is the one at `initialPath`.
        FolderPages pages(api, publicURL, folder.remote, gate,
                          visited.size() == 1 ? firstPage : std::optional<PublicResource>());
        for (;;) {
            if (Status ready = gate.waitUntilReady(); !ready)
                return ready.error();
            Result<std::optional<PublicResource>> next = pages.next();
            if (!next)
                return next.error();
            if (!next.value())
                break;
            const PublicResource &page = *next.value();
            if (!page.embedded)
                return AppError(QStringLiteral("Яндекс не вернул содержимое папки"),
                                ErrorKind::Decoding);
            const EmbeddedResource &embedded = *page.embedded;
            for (const PublicItem &item : embedded.items) {
                if (Status ready = gate.waitUntilReady(); !ready)
                    return ready.error();
                const QString name = safeName(item.name);
                const QString local = QDir(folder.local).filePath(name);
                if (item.type == QLatin1String("dir")) {
                    const QString created = asBefore ? reserveDirectoryAsIfEmpty(local, reserved)
                                                     : reserveDirectory(local, reserved);
                    if (!QDir().mkpath(created))
                        return AppError(QStringLiteral("Не удалось создать папку «%1»")
                                            .arg(QFileInfo(created).fileName()),
                                        ErrorKind::FileSystem);
                    work.append({item.path, created});
                } else if (item.type == QLatin1String("file")) {
                    plans.append(FilePlan{item.path, item.path,
                                          asBefore ? reserveFileAsIfEmpty(local, reserved)
                                                   : reserveFile(local, reserved),
                                          item.size && *item.size > 0 ? *item.size : 0,
                                          item.downloadLink, item.sha256, item.md5});
                    if (hooks.planned)
                        hooks.planned(plans.last());
                    if (plans.size() % kStatusEvery == 0)
                        hooks.status(QStringLiteral("Сканируется папка: найдено %1 файлов…")
                                         .arg(plans.size()));
                }
            }
        }
    }

    hooks.status(plans.isEmpty()
                     ? QStringLiteral("Папка пуста")
                     : QStringLiteral("Начинается загрузка %1 файлов…").arg(plans.size()));
    return plans;
}
