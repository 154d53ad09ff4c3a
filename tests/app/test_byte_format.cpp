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
        QTest::addColumn<QString>("locale");
        const int B = int(ByteUnit::Byte), K = int(ByteUnit::Kilobyte);
        const auto row = [](const char *name, qint64 bytes, int unit, const char *text,
                            const char *locale = "ru_RU") {
            QTest::newRow(name) << bytes << unit << QString(text) << QString(locale);
        };
        row("zero", 0, B, "0 Б");
        row("1000 bytes is a kilobyte", 1000, B, "1 кБ");
        row("rounding up climbs a unit", 999'600, B, "1 МБ");
        row("one and a half megabytes", 1'500'000, B, "1,5 МБ");
        row("whole gigabytes drop the fraction", 5'000'000'000, B, "5 ГБ");
        row("gigabytes keep two digits", 1'234'567'890, B, "1,23 ГБ");
        row("past the largest unit", 5'000'000'000'000'000, B, "5000 ТБ");
        row("sizes start at kilobytes, 600 B", 600, K, "1 кБ");
        row("English", 1'500'000, B, "1.5 MB", "en_US");
    }

    void decimalUnits()
    {
        QFETCH(qint64, bytes);
        QFETCH(int, minUnit);
        QFETCH(QString, text);
        QFETCH(QString, locale);
        QString got =
            formatByteCount(bytes, ByteUnit(minUnit), ByteUnit::Terabyte, QLocale(locale));
        // ICU separates the number and unit with a no-break space, and groups thousands with
        // one; compare with plain spaces.
        got.replace(QChar(0x00A0), u' ').replace(QChar(0x202F), u' ');
        QCOMPARE(got, text.replace(QStringLiteral("5000"), QStringLiteral("5 000")));
    }
};

TOVRIN_TEST(TestByteFormat);
#include "test_byte_format.moc"
