#include "app/byte_format.h"
#include "support/test_main.h"

#include <QTest>

class TestByteFormat : public QObject {
    Q_OBJECT

private slots:
    void decimalUnits_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<int>("minUnit");
        QTest::addColumn<QString>("text");
        const int B = int(ByteUnit::Byte), K = int(ByteUnit::Kilobyte);
        QTest::newRow("zero") << 0LL << B << "0 Б";
        QTest::newRow("999 bytes") << 999LL << B << "999 Б";
        QTest::newRow("1000 bytes is a kilobyte") << 1000LL << B << "1 кБ";
        QTest::newRow("kilobytes are whole") << 1499LL << B << "1 кБ";
        QTest::newRow("rounding up climbs a unit") << 999'600LL << B << "1 МБ";
        QTest::newRow("one and a half megabytes") << 1'500'000LL << B << "1,5 МБ";
        QTest::newRow("whole gigabytes drop the fraction") << 5'000'000'000LL << B << "5 ГБ";
        QTest::newRow("gigabytes keep two digits") << 1'234'567'890LL << B << "1,23 ГБ";
        QTest::newRow("terabytes") << 2'500'000'000'000LL << B << "2,5 ТБ";
        QTest::newRow("past the largest unit") << 5'000'000'000'000'000LL << B << "5000 ТБ";
        QTest::newRow("sizes start at kilobytes") << 12LL << K << "0 кБ";
        QTest::newRow("sizes start at kilobytes, 600 B") << 600LL << K << "1 кБ";
        QTest::newRow("English") << 1'500'000LL << B << "1.5 MB";
    }

    void decimalUnits()
    {
        QFETCH(qint64, bytes);
        QFETCH(int, minUnit);
        QFETCH(QString, text);
        const QLocale locale(QTest::currentDataTag() == QByteArray("English")
                                 ? QLocale(QLocale::English, QLocale::UnitedStates)
                                 : QLocale(QLocale::Russian, QLocale::Russia));
        QString got = formatByteCount(bytes, ByteUnit(minUnit), ByteUnit::Terabyte, locale);
        // ICU separates the number and unit with a no-break space, and groups thousands with
        // one; compare with plain spaces.
        got.replace(QChar(0x00A0), u' ').replace(QChar(0x202F), u' ');
        QCOMPARE(got, text.replace(QStringLiteral("5000"), QStringLiteral("5 000")));
    }
};

TOVRIN_TEST(TestByteFormat);
#include "test_byte_format.moc"
