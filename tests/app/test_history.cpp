#include "app/download_history.h"
#include "app/platform/preference_keys.h"
#include "support/fake_desktop_services.h"
#include "support/fake_preferences.h"
#include "support/test_main.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kKey = QString(PreferenceKeys::kYandexHistory);
const QString kId = QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");

DownloadHistoryItem item(const QString &name)
{
    const QDateTime date(QDate(2026, 3, 4), QTime(5, 6, 7, 891), Qt::UTC);
    return {QUuid::createUuid(), name, QDir::tempPath() + '/' + name, date, {}, "Готово"};
}

QJsonObject record(const QString &result = "canceled", double date = 786543210.125)
{
    return {{"id", kId},    {"name", "Папка"},  {"path", QDir::tempPath() + "/Папка"},
            {"date", date}, {"result", result}, {"message", "Остановлено"}};
}

QByteArray arrayOf(const QJsonObject &record)
{
    return QJsonDocument(QJsonArray{record}).toJson();
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    // Every key of the stored form, the id in capitals, the date in seconds since 2001 (before it
    // too) to the millisecond, each result: both ways.
    void recordsRoundTrip()
    {
        const QDateTime dates[] = {QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 891), Qt::UTC),
                                   QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59, 999), Qt::UTC),
                                   QDateTime(QDate(2025, 12, 4), QTime(12, 13, 30, 125), Qt::UTC)};
        const double seconds[] = {794293567.891, -0.001, 786543210.125};
        const char *results[] = {"completed", "failed", "canceled"};
        QList<DownloadHistoryItem> entries;
        QJsonArray stored;
        for (int i = 0; i < 3; ++i) {
            entries.append({QUuid::fromString(kId), "Папка", QDir::tempPath() + "/Папка", dates[i],
                            DownloadHistoryItem::Result(i), "Остановлено"});
            stored.append(record(results[i], seconds[i]));
        }
        QCOMPARE(QJsonDocument::fromJson(encodeHistory(entries)).array(), stored);
        QCOMPARE(decodeHistory(QJsonDocument(stored).toJson()), std::optional(entries));
    }

    // A list that does not decode loads as empty and stays as it is in the store until the next
    // change saves a good list over it; one bad record spoils the list.
    void storedListsThatDoNotDecode_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("accepted");
        auto with = [](const char *key, const QJsonValue &v) {
            QJsonObject o = record();
            o.remove(key);
            if (!v.isUndefined())
                o.insert(key, v);
            return QVariant(arrayOf(o));
        };
        QJsonObject lower = record();
        lower.insert("id", kId.toLower());
        lower.insert("extra", "ignored");
        QTest::newRow("lower-case id, unknown key") << QVariant(arrayOf(lower)) << true;
        QTest::newRow("not json") << QVariant(QByteArray("{oops")) << false;
        QTest::newRow("missing message") << with("message", QJsonValue::Undefined) << false;
        QTest::newRow("braced uuid") << with("id", "{" + kId + "}") << false;
        QTest::newRow("unknown result") << with("result", "cancelled") << false;
        QTest::newRow("name not text") << with("name", 7) << false;
        QJsonObject bad = record();
        bad.remove("path");
        QTest::newRow("one bad of two")
            << QVariant(QJsonDocument(QJsonArray{record(), bad}).toJson()) << false;
    }

    void storedListsThatDoNotDecode()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, accepted);
        FakePreferences prefs;
        prefs.setValue(kKey, stored);
        prefs.writes = 0;

        FakeDesktopServices desktop;
        DownloadHistory store(prefs, desktop, kKey, 200);
        QCOMPARE(store.items().size(), accepted ? 1 : 0);
        QCOMPARE(prefs.writes, 0);
        QCOMPARE(prefs.value(kKey), std::optional<QVariant>(stored));
        store.add(item("new"));
        QCOMPARE(decodeHistory(prefs.value(kKey)->toByteArray())->size(), accepted ? 2 : 1);
    }

    // Newest first, trimmed to the limit, and every change saved at once: removal takes every
    // copy of an entry, and an empty list leaves no key behind.
    void changesAreSavedAtOnce()
    {
        FakePreferences prefs;
        FakeDesktopServices desktop;
        DownloadHistory store(prefs, desktop, kKey, 200);
        QSignalSpy changed(&store, &DownloadHistory::changed);
        const auto reread = [&] {
            DownloadHistory other(prefs, desktop, kKey, 200);
            return std::pair(other.items(), prefs.contains(kKey));
        };
        QList<DownloadHistoryItem> added;
        for (int i = 0; i < 201; ++i)
            store.add(added.emplaceBack(item(QString::number(i))));
        QCOMPARE(store.items().size(), 200);
        QCOMPARE(store.items().first(), added.last());
        QCOMPARE(store.items().last(), added.at(1));
        QCOMPARE(reread(), std::pair(store.items(), true));
        QCOMPARE(changed.size(), 201);

        store.clear();
        QCOMPARE(reread(), std::pair(QList<DownloadHistoryItem>{}, false));
        const DownloadHistoryItem a = item("a"), b = item("b"), c = item("c");
        for (const auto &it : {c, b, a, b})
            store.add(it);
        store.remove(b);
        QCOMPARE(store.items(), (QList<DownloadHistoryItem>{a, c}));
        QCOMPARE(reread(), std::pair(QList<DownloadHistoryItem>{a, c}, true));
        store.remove(a);
        store.remove(c);
        QCOMPARE(reread(), std::pair(QList<DownloadHistoryItem>{}, false));
    }

    void revealLooksOnlyAtTheDisk()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("folder");
        QVERIFY(QFile(dir.filePath("file.bin")).open(QIODevice::WriteOnly));
        FakeDesktopServices desktop;
        FakePreferences prefs;
        const DownloadHistory history(prefs, desktop, kKey, 200);
        for (const QString &path :
             {dir.filePath("folder"), dir.filePath("file.bin"), dir.filePath("gone.bin"),
              dir.filePath("gone/deeper.bin"), QString()})
            history.reveal({QUuid::createUuid(), "x", path, {}, {}, {}});

        QCOMPARE(desktop.opened, (QStringList{dir.filePath("folder"), dir.path()}));
        QCOMPARE(desktop.selected, QStringList{dir.filePath("file.bin")});
    }
};

TOVRIN_TEST(TestHistory);
#include "test_history.moc"
