#include "app/platform/preference_values.h"
#include "app/platform/settings_preferences.h"
#include "support/test_main.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The real store keeps values in a text file between launches: every typed value must come
// back as the same type, and anything of another type must read as absent.
class TestPreferences : public QObject {
    Q_OBJECT

private slots:
    void valuesSurviveTheRealStoreAsTheirOwnType()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("prefs.ini");
        const QByteArray json = "[{\"name\":\"a, b; \\\"c\\\" = [d]\\n\"}]";
        const QDateTime when(QDate(2026, 5, 6), QTime(7, 8, 9, 10), Qt::UTC);
        {
            SettingsPreferences prefs(file);
            prefs.setValue("concurrentDownloads", 6);
            prefs.setValue("history", json);
            prefs.setValue("digest", QStringLiteral("sha256:abc"));
            prefs.setValue("refreshed", when);
        }
        // Written before the object went away: nothing waits for a lazy flush.
        QVERIFY(QFile::exists(file));
        SettingsPreferences prefs(file);
        QCOMPARE(readInteger(prefs, "concurrentDownloads"), std::optional<qint64>(6));
        QCOMPARE(readData(prefs, "history"), std::optional<QByteArray>(json));
        QCOMPARE(readString(prefs, "digest"), std::optional<QString>("sha256:abc"));
        QCOMPARE(readDate(prefs, "refreshed"), std::optional<QDateTime>(when));
        for (const char *key : {"history", "digest", "refreshed", "missing"})
            QVERIFY2(!readInteger(prefs, key), key);
        for (const char *key : {"digest", "concurrentDownloads"})
            QVERIFY2(!readData(prefs, key) && !readDate(prefs, key), key);
        for (const char *key : {"history", "refreshed"})
            QVERIFY2(!readString(prefs, key), key);

        prefs.remove("digest");
        SettingsPreferences again(file);
        QVERIFY(!again.value("digest"));
    }
};

TOVRIN_TEST(TestPreferences);
#include "test_preferences.moc"
