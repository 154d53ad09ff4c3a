#include "support/test_main.h"
#include "yandex/public_link.h"

#include <QTest>

using OptionalText = std::optional<QString>;

class TestPublicLink : public QObject {
    Q_OBJECT

private slots:
    void acceptedLinksSplitIntoKeyAndPath_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("publicURL");
        QTest::addColumn<OptionalText>("path");

        QTest::newRow("resource itself") << "https://disk.yandex.ru/d/AbC"
                                         << "https://disk.yandex.ru/d/AbC" << OptionalText();
        QTest::newRow("white space and line breaks around")
            << " \t\nhttps://yadi.sk/d/AbC\r\n \u00a0"
            << "https://yadi.sk/d/AbC" << OptionalText();
        QTest::newRow("capitals, query and fragment with an inner path")
            << "HTTPS://DISK.YANDEX.RU/d/AbC/Photos/2020/?lang=ru#top"
            << "https://disk.yandex.ru/d/AbC" << OptionalText("/Photos/2020");
        QTest::newRow("one segment stays exactly as pasted")
            << "HTTP://Disk.Yandex.COM/d?x=1#f"
            << "HTTP://Disk.Yandex.COM/d?x=1#f" << OptionalText();
        QTest::newRow("host only") << "https://disk.360.yandex.ru/"
                                   << "https://disk.360.yandex.ru/" << OptionalText();
        QTest::newRow("encoded Cyrillic")
            << "https://disk.yandex.ru/d/AbC/%D0%A4%D0%BE%D1%82%D0%BE"
            << "https://disk.yandex.ru/d/AbC" << OptionalText("/Фото");
        QTest::newRow("space encoded twice")
            << "https://disk.yandex.ru/d/AbC/a%2520b"
            << "https://disk.yandex.ru/d/AbC" << OptionalText("/a b");
        QTest::newRow("malformed escape kept")
            << "https://disk.yandex.ru/d/AbC/a%ZZb"
            << "https://disk.yandex.ru/d/AbC" << OptionalText("/a%ZZb");
        QTest::newRow("empty segments skipped")
            << "https://disk.yandex.ru//d//AbC//x///y//"
            << "https://disk.yandex.ru/d/AbC" << OptionalText("/x/y");
        QTest::newRow("first two segments never decoded")
            << "https://disk.yandex.ru/i/A%2Fb%20c/x"
            << "https://disk.yandex.ru/i/A%2Fb%20c" << OptionalText("/x");
        QTest::newRow("port and user dropped when rebuilt")
            << "https://user@disk.yandex.ru:8443/d/AbC/x"
            << "https://disk.yandex.ru/d/AbC" << OptionalText("/x");
        QTest::newRow("two segments, no inner path") << "http://yadi.sk/d/AbC/"
                                                     << "http://yadi.sk/d/AbC" << OptionalText();
    }

    void acceptedLinksSplitIntoKeyAndPath()
    {
        QFETCH(QString, input);
        QFETCH(QString, publicURL);
        QFETCH(OptionalText, path);
        const Result<YandexPublicLink> link = validatePublicURL(input);
        QVERIFY2(link.ok(), qPrintable(link.ok() ? QString() : link.error().message));
        QCOMPARE(link.value().publicURL, publicURL);
        QCOMPARE(link.value().path, path);
    }

    void rejectedLinks_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("empty") << "";
        QTest::newRow("only white space") << " \n\t ";
        QTest::newRow("not a link") << "просто текст";
        QTest::newRow("ftp") << "ftp://disk.yandex.ru/d/AbC";
        QTest::newRow("no scheme") << "disk.yandex.ru/d/AbC";
        QTest::newRow("other host") << "https://drive.example.com/d/AbC";
        QTest::newRow("sub-domain") << "https://www.disk.yandex.ru/d/AbC";
        QTest::newRow("look-alike host") << "https://disk.yandex.ru.example.com/d/AbC";
        QTest::newRow("bad host") << "https://disk yandex.ru/d/AbC";
    }

    void rejectedLinks()
    {
        QFETCH(QString, input);
        const Result<YandexPublicLink> link = validatePublicURL(input);
        QVERIFY(!link.ok());
        QCOMPARE(link.error().message, QStringLiteral("Нужна публичная ссылка Яндекс Диска"));
    }
};

TOVRIN_TEST(TestPublicLink);
#include "test_public_link.moc"
