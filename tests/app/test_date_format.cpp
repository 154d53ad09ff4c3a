#include "app/date_format.h"
#include "support/test_main.h"

#include <QTest>

class TestDateFormat : public QObject {
    Q_OBJECT

private slots:
    // Day, abbreviated month, hour and minute in the locale's own order; never year or seconds.
    void historyDatesFollowTheLocale()
    {
        const QDateTime when(QDate(2026, 3, 4), QTime(17, 6, 59), Qt::LocalTime);
        const QString ru = formatHistoryDate(when, QLocale(QLocale::Russian, QLocale::Russia));
        QVERIFY2(ru.contains(QStringLiteral("мар")), qPrintable(ru));
        QVERIFY2(ru.contains(QStringLiteral("17:06")), qPrintable(ru));
        QVERIFY(!ru.contains(QStringLiteral("2026")));
        QVERIFY(!ru.contains(QStringLiteral("59")));

        const QString us =
            formatHistoryDate(when, QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY2(us.contains(QStringLiteral("Mar")), qPrintable(us));
        QVERIFY2(us.contains(QStringLiteral("5:06")) && us.contains(QStringLiteral("PM")),
                 qPrintable(us));
        QVERIFY(formatHistoryDate(QDateTime()).isEmpty());
    }
};

TOVRIN_TEST(TestDateFormat);
#include "test_date_format.moc"
