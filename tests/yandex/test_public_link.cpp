#include "support/test_main.h"
#include "yandex/public_link.h"

#include <QTest>

class TestPublicLink : public QObject {
    Q_OBJECT

private slots:
    // The link of the shared resource and the path inside it (none: "-"), or "" when refused.
    void linksSplitIntoKeyAndPath_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("publicURL");
        QTest::addColumn<QString>("path");
        const char *rows[][4] = {
            {"white space and line breaks around, trailing slash",
             " \t\nhttps://yadi.sk/d/AbC/\r\n \u00a0", "https://yadi.sk/d/AbC", "-"},
            {"capitals, user, port, query and fragment with an inner path",
             "HTTPS://user@DISK.YANDEX.RU:8443/d/AbC/Photos/2020/?lang=ru#top",
             "https://disk.yandex.ru/d/AbC", "/Photos/2020"},
            {"one segment stays exactly as pasted", "HTTP://Disk.Yandex.COM/d?x=1#f",
             "HTTP://Disk.Yandex.COM/d?x=1#f", "-"},
            {"encoded Cyrillic", "https://disk.yandex.ru/d/AbC/%D0%A4%D0%BE%D1%82%D0%BE",
             "https://disk.yandex.ru/d/AbC", "/\u0424\u043e\u0442\u043e"},
            {"space encoded twice", "https://disk.yandex.ru/d/AbC/a%2520b",
             "https://disk.yandex.ru/d/AbC", "/a b"},
            {"malformed escape kept", "https://disk.yandex.ru/d/AbC/a%ZZb",
             "https://disk.yandex.ru/d/AbC", "/a%ZZb"},
            {"empty segments skipped", "https://disk.360.yandex.ru//d//AbC//x///y//",
             "https://disk.360.yandex.ru/d/AbC", "/x/y"},
            {"first two segments never decoded", "https://disk.yandex.ru/i/A%2Fb%20c/x",
             "https://disk.yandex.ru/i/A%2Fb%20c", "/x"},
            {"only white space", " \n\t ", "", ""},
            {"ftp", "ftp://disk.yandex.ru/d/AbC", "", ""},
            {"sub-domain", "https://www.disk.yandex.ru/d/AbC", "", ""},
            {"look-alike host", "https://disk.yandex.ru.example.com/d/AbC", "", ""},
            {"bad host", "https://disk yandex.ru/d/AbC", "", ""},
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]) << QString(row[3]);
    }

    void linksSplitIntoKeyAndPath()
    {
        QFETCH(QString, input);
        QFETCH(QString, publicURL);
        QFETCH(QString, path);
        const Result<YandexPublicLink> link = validatePublicURL(input);
        QCOMPARE(link.ok(), !publicURL.isEmpty());
        if (!link.ok()) {
            QCOMPARE(link.error().message, QStringLiteral("Нужна публичная ссылка Яндекс Диска"));
            return;
        }
        QCOMPARE(link.value().publicURL, publicURL);
        QCOMPARE(link.value().path.value_or("-"), path);
    }
};

TOVRIN_TEST(TestPublicLink);
#include "test_public_link.moc"
