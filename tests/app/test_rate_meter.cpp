#include "app/rate_meter.h"
#include "support/test_main.h"

#include <QTest>

#include <cmath>
#include <limits>

class TestRateMeter : public QObject {
    Q_OBJECT

private slots:
    void firstReportIsOnlyABaseline()
    {
        DownloadRateMeter m;
        m.reset(0);
        m.record("f", 5'000'000, 1.0); // already on disk when first seen
        QCOMPARE(m.bytesPerSecond(2.0), std::optional<double>(0.0));
        m.record("f", 6'000'000, 2.0);
        QCOMPARE(m.bytesPerSecond(2.0), std::optional<double>(1'000'000.0));
    }

    void noSpeedDuringTheFirstHalfSecond()
    {
        DownloadRateMeter m;
        QVERIFY(!m.bytesPerSecond(10.0)); // nothing reported yet
        m.reset(10.0);
        m.record("f", 0, 10.0);
        m.record("f", 1000, 10.2);
        QVERIFY(!m.bytesPerSecond(10.4));
        QCOMPARE(DownloadRateMeter::speedText(m.bytesPerSecond(10.4)),
                 QStringLiteral("скорость —"));
        QVERIFY(m.bytesPerSecond(10.5));
    }

    void spanIsElapsedUntilTheWindowIsFull()
    {
        DownloadRateMeter m;
        m.reset(0);
        m.record("f", 0, 100.0);
        m.record("f", 3'000'000, 101.0);
        QCOMPARE(*m.bytesPerSecond(101.5), 2'000'000.0);

        DownloadRateMeter late;
        late.reset(0);
        late.record("f", 0, 100.0);
        late.record("f", 3'000'000, 109.0);
        QCOMPARE(*late.bytesPerSecond(110.0), 1'000'000.0);
    }

    void windowSlidesAndStallsShowZero()
    {
        DownloadRateMeter m;
        m.reset(0);
        m.record("f", 0, 0.0);
        m.record("f", 600, 1.0);
        m.record("f", 1200, 4.0); // the sample at 1.0 sits on the edge: record keeps it
        QCOMPARE(*m.bytesPerSecond(4.0), 200.0); // ...and the query drops it
        QCOMPARE(*m.bytesPerSecond(7.0), 0.0);
        QCOMPARE(DownloadRateMeter::speedText(0.0), QStringLiteral("0 Б/с"));
    }

    void countersThatRestartOrRepeat()
    {
        DownloadRateMeter m;
        m.reset(0);
        m.record("f", 5000, 1.0);
        m.record("f", 300, 2.0); // went backwards: the whole new value counts
        QCOMPARE(*m.bytesPerSecond(2.0), 300.0);
        m.record("f", 300, 2.5); // same count: no sample, but the time moves on
        m.record("f", 400, 2.4); // earlier than the stream's last report: ignored
        QCOMPARE(*m.bytesPerSecond(3.0), 150.0);
        m.record("f", 500, 3.0);
        QCOMPARE(*m.bytesPerSecond(3.0), 250.0); // increment 200 from 300, not 100 from 400
    }

    void reportsBeforeAFenceAreIgnored()
    {
        DownloadRateMeter m;
        m.reset(5.0);
        m.record("f", 100, 4.99);
        QVERIFY(!m.bytesPerSecond(10.0));
        m.record("f", 100, 5.0); // exactly at the fence: accepted
        m.record("f", 700, 6.0);
        QCOMPARE(*m.bytesPerSecond(6.0), 600.0);

        // Pause: the window restarts and keeps the baseline, so the resumed stream counts
        // only what moved after the restart.
        m.restartWindow(20.0);
        m.record("f", 900, 19.0); // stale report from before the pause
        QCOMPARE(*m.bytesPerSecond(21.0), 0.0);
        m.record("f", 1700, 21.0);
        QCOMPARE(*m.bytesPerSecond(21.0), 1000.0); // 1000 bytes over 1 s since the restart
    }

    void badReportsAreIgnored()
    {
        DownloadRateMeter m;
        m.reset(0);
        m.record("f", 0, 1.0);
        m.record("f", 1000, std::numeric_limits<double>::quiet_NaN());
        m.record("f", 1000, std::numeric_limits<double>::infinity());
        m.record("f", -5, 1.5);
        m.record("f", 100, 2.0);
        QCOMPARE(*m.bytesPerSecond(2.0), 100.0);
        QVERIFY(!m.bytesPerSecond(std::numeric_limits<double>::quiet_NaN()));
    }

    void streamsAddUp()
    {
        DownloadRateMeter m;
        m.reset(0);
        for (int s = 0; s <= 10; ++s) {
            m.record("a", s * 1'000'000LL, s);
            m.record("b", s * 1'000'000LL, s + 0.5);
        }
        QCOMPARE(*m.bytesPerSecond(10.5), 2'000'000.0);
    }

    void speedTextEdges()
    {
        QCOMPARE(DownloadRateMeter::speedText(std::nullopt), QStringLiteral("скорость —"));
        QCOMPARE(DownloadRateMeter::speedText(-1.0), QStringLiteral("скорость —"));
        QCOMPARE(DownloadRateMeter::speedText(std::nan("")), QStringLiteral("скорость —"));
        QCOMPARE(DownloadRateMeter::speedText(9.223372036854775808e18),
                 QStringLiteral("скорость —"));
        QVERIFY(DownloadRateMeter::speedText(1.5e6).endsWith(QStringLiteral("/с")));
        QVERIFY(!DownloadRateMeter::speedText(1.5e6).endsWith(QStringLiteral(" /с")));
    }
};

TOVRIN_TEST(TestRateMeter);
#include "test_rate_meter.moc"
