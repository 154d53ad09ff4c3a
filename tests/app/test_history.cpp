#include "app/history_store.h"
#include "app/platform/preference_keys.h"
#include "app/platform/settings_preferences.h"
#include "app/reveal.h"
#include "support/fake_desktop_services.h"
#include "support/fake_preferences.h"
#include "support/test_main.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kKey = QString(PreferenceKeys::kYandexHistory);

DownloadHistoryItem
item(const QString &name,
     DownloadHistoryItem::Result result = DownloadHistoryItem::Result::Completed)
{
    return {QUuid::createUuid(),
            name,
            QStringLiteral("/tmp/") + name,
            QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 891), Qt::UTC),
            result,
            QStringLiteral("Готово · 1 файл")};
}

QJsonObject validRecord()
{
    return QJsonObject{{"id", "e621e1f8-c36c-495a-93fc-0c247a3e6e5f"},
                       {"name", "Папка"},
                       {"path", QDir::tempPath() + "/Папка"},
                       {"date", 786543210.125},
                       {"result", "canceled"},
                       {"message", "Остановлено"}};
}

QByteArray arrayOf(const QJsonObject &record)
{
    return QJsonDocument(QJsonArray{record}).toJson();
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void storedFormIsExact()
    {
        FakePreferences prefs;
        HistoryStore store(prefs, kKey, 200);
        DownloadHistoryItem a = item("a", DownloadHistoryItem::Result::Canceled);
        store.add(a);

        const auto data = prefs.value(kKey);
        QVERIFY(data);
        QCOMPARE(data->typeId(), QMetaType::QByteArray);
        const QJsonArray array = QJsonDocument::fromJson(data->toByteArray()).array();
        QCOMPARE(array.size(), 1);
        const QJsonObject o = array.first().toObject();
        QCOMPARE(o.keys().size(), 6);
        QCOMPARE(o["id"].toString(), a.id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(o["result"].toString(), QStringLiteral("canceled"));
        // 2026-03-04 05:06:07.891 UTC is 794293567.891 s after 2001-01-01.
        QCOMPARE(o["date"].toDouble(), 794293567.891);
    }

    void decodesRecordsWrittenElsewhere()
    {
        QJsonObject record = validRecord();
        record.insert("extra", "ignored");
        const auto items = decodeHistory(arrayOf(record));
        QVERIFY(items);
        QCOMPARE(items->size(), 1);
        const DownloadHistoryItem &it = items->first();
        QCOMPARE(it.id, QUuid::fromString(QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F")));
        QCOMPARE(it.result, DownloadHistoryItem::Result::Canceled);
        QCOMPARE(it.date, QDateTime(QDate(2025, 12, 4), QTime(12, 13, 30, 125), Qt::UTC));
        QCOMPARE(it.name, QStringLiteral("Папка"));
    }

    void roundTripKeepsEveryFieldToTheMillisecond()
    {
        QList<DownloadHistoryItem> items;
        for (int i = 0; i < 3; ++i) {
            DownloadHistoryItem it = item(QString::number(i), DownloadHistoryItem::Result(i));
            it.date = QDateTime::fromMSecsSinceEpoch(1'780'000'000'123LL + i * 7919, Qt::UTC);
            items.append(it);
        }
        // Dates before the 2001 epoch are negative seconds and must survive too.
        items[2].date = QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
        const auto back = decodeHistory(encodeHistory(items));
        QVERIFY(back);
        QCOMPARE(*back, items);
    }

    void corruptStoreLoadsEmptyAndIsNotRewritten_data()
    {
        QTest::addColumn<QVariant>("stored");
        auto without = [](const char *key) {
            QJsonObject o = validRecord();
            o.remove(key);
            return QVariant(arrayOf(o));
        };
        auto with = [](const char *key, const QJsonValue &v) {
            QJsonObject o = validRecord();
            o.insert(key, v);
            return QVariant(arrayOf(o));
        };
        QTest::newRow("not json") << QVariant(QByteArray("{oops"));
        QTest::newRow("object, not array") << QVariant(QJsonDocument(validRecord()).toJson());
        QTest::newRow("text instead of data")
            << QVariant(QString::fromUtf8(arrayOf(validRecord())));
        QTest::newRow("number instead of data") << QVariant(42);
        QTest::newRow("missing message") << without("message");
        QTest::newRow("missing id") << without("id");
        QTest::newRow("non-uuid id") << with("id", "not-a-uuid-at-all-not-a-uuid-at-all!");
        QTest::newRow("braced uuid") << with("id", "{e621e1f8-c36c-495a-93fc-0c247a3e6e5f}");
        QTest::newRow("date as text") << with("date", "2026-01-01");
        QTest::newRow("unknown result") << with("result", "cancelled");
        QTest::newRow("name not text") << with("name", 7);
        QTest::newRow("record not object") << QVariant(QByteArray("[1]"));

        // One bad record among good ones spoils the whole list.
        QJsonObject bad = validRecord();
        bad.remove("path");
        QTest::newRow("one bad of two")
            << QVariant(QJsonDocument(QJsonArray{validRecord(), bad}).toJson());
    }

    void corruptStoreLoadsEmptyAndIsNotRewritten()
    {
        QFETCH(QVariant, stored);
        FakePreferences prefs;
        prefs.setValue(kKey, stored);
        prefs.writes = 0;

        HistoryStore store(prefs, kKey, 200);
        store.load();
        QVERIFY(store.items().isEmpty());
        QCOMPARE(prefs.writes, 0);
        QCOMPARE(prefs.value(kKey), std::optional<QVariant>(stored));

        // The bad value goes only when the next change saves a good list over it.
        store.add(item("new"));
        const auto saved = decodeHistory(prefs.value(kKey)->toByteArray());
        QVERIFY(saved);
        QCOMPARE(saved->size(), 1);
    }

    void listIsTrimmedToItsLimitAcrossRelaunch()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("prefs.ini");
        QUuid firstId;
        {
            SettingsPreferences prefs(file);
            HistoryStore store(prefs, kKey, 200);
            store.load();
            for (int i = 0; i < 201; ++i) {
                DownloadHistoryItem it = item(QString::number(i));
                if (i == 0)
                    firstId = it.id;
                store.add(it);
            }
            QCOMPARE(store.items().size(), 200);
            QCOMPARE(store.items().first().name, QStringLiteral("200"));
            QCOMPARE(store.items().last().name, QStringLiteral("1"));
        }
        SettingsPreferences prefs(file);
        HistoryStore relaunched(prefs, kKey, 200);
        relaunched.load();
        QCOMPARE(relaunched.items().size(), 200);
        for (const auto &it : relaunched.items())
            QVERIFY(it.id != firstId);

        // The video side keeps a shorter list under its own key with the same class.
        HistoryStore video(prefs, QString(PreferenceKeys::kVideoHistory), 100);
        for (int i = 0; i < 105; ++i)
            video.add(item(QString::number(i)));
        QCOMPARE(video.items().size(), 100);
        QCOMPARE(relaunched.items().size(), 200);
    }

    void removeAndClearPersistAtOnce()
    {
        QTemporaryDir dir;
        SettingsPreferences prefs(dir.filePath("prefs.ini"));
        HistoryStore store(prefs, kKey, 200);
        const auto reread = [&] {
            SettingsPreferences again(dir.filePath("prefs.ini"));
            HistoryStore other(again, kKey, 200);
            other.load();
            return std::pair(other.items(), again.value(kKey).has_value());
        };
        const DownloadHistoryItem a = item("a"), b = item("b"), c = item("c");
        for (const auto &it : {c, b, a, b}) // the same entry twice: removal takes every copy
            store.add(it);
        store.remove(b.id);
        QCOMPARE(store.items(), (QList<DownloadHistoryItem>{a, c}));
        QCOMPARE(reread(), std::pair(QList<DownloadHistoryItem>{a, c}, true));
        store.clear();
        QVERIFY(store.items().isEmpty());
        QCOMPARE(reread(), std::pair(QList<DownloadHistoryItem>{}, false));
        // Removing the last entry removes the key as well.
        store.add(a);
        store.remove(a.id);
        QCOMPARE(reread(), std::pair(QList<DownloadHistoryItem>{}, false));
    }

    void revealLooksOnlyAtTheDisk()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("folder");
        QFile file(dir.filePath("file.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        FakeDesktopServices desktop;
        revealPath(dir.filePath("folder"), desktop);
        revealPath(dir.filePath("file.bin"), desktop);
        revealPath(dir.filePath("gone.bin"), desktop);
        revealPath(dir.filePath("gone/deeper.bin"), desktop);
        revealPath(QString(), desktop);

        QCOMPARE(desktop.opened, (QStringList{dir.filePath("folder"), dir.path()}));
        QCOMPARE(desktop.selected, QStringList{dir.filePath("file.bin")});
    }
};

TOVRIN_TEST(TestHistory);
#include "test_history.moc"
