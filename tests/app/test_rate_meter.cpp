#include "app/rate_meter.h"
#include "support/test_main.h"

#include <QTest>

#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kNone = -1; // a query that must find no speed yet

// One call on the meter: 'z' reset(at), 'w' restartWindow(at), 'r' record(stream, bytes, at),
// '?' bytesPerSecond(at), which must give `value` (kNone: nothing).
struct Step {
    char call;
    double at;
    double value = 0;
    const char *stream = "f";
};

} // namespace

class TestRateMeter : public QObject {
    Q_OBJECT

private slots:
    void reportsBecomeSpeeds_data()
    {
        QTest::addColumn<QList<Step>>("steps");
        QTest::newRow("first report is only a baseline") // already on disk when first seen
            << QList<Step>{{'z', 0}, {'r', 1, 5e6}, {'?', 2, 0}, {'r', 2, 6e6}, {'?', 2, 1e6}};
        QTest::newRow("no speed before any report or during the first half second")
            << QList<Step>{{'?', 10, kNone},  {'z', 10},          {'r', 10, 0},
                           {'r', 10.2, 1000}, {'?', 10.4, kNone}, {'?', 10.5, 2000}};
        QTest::newRow("span is the time elapsed until the window is full")
            << QList<Step>{{'z', 0}, {'r', 100, 0}, {'r', 101, 3e6}, {'?', 101.5, 2e6}};
        QTest::newRow("then it is the window")
            << QList<Step>{{'z', 0}, {'r', 100, 0}, {'r', 109, 3e6}, {'?', 110, 1e6}};
        // The sample at 1.0 sits on the edge at 4.0: record keeps it, the query drops it.
        QTest::newRow("window slides, stalls show zero") << QList<Step>{
            {'z', 0}, {'r', 0, 0}, {'r', 1, 600}, {'r', 4, 1200}, {'?', 4, 200}, {'?', 7, 0}};
        // Backwards: the whole new value counts. The same count adds no sample but moves the
        // time on; a report earlier than the stream's last one is ignored.
        QTest::newRow("counters that restart or repeat") << QList<Step>{
            {'z', 0},        {'r', 1, 5000}, {'r', 2, 300}, {'?', 2, 300}, {'r', 2.5, 300},
            {'r', 2.4, 400}, {'?', 3, 150},  {'r', 3, 500}, {'?', 3, 250}};
        // A pause restarts the window and keeps the baselines, so the resumed stream counts
        // only what moved after the restart.
        QTest::newRow("reports before a fence are ignored")
            << QList<Step>{{'z', 5},      {'r', 4.99, 100}, {'?', 10, kNone}, {'r', 5, 100},
                           {'r', 6, 700}, {'?', 6, 600},    {'w', 20},        {'r', 19, 900},
                           {'?', 21, 0},  {'r', 21, 1700},  {'?', 21, 1000}};
        QTest::newRow("bad reports are ignored")
            << QList<Step>{{'z', 0},       {'r', 1, 0},   {'r', kNaN, 1000}, {'r', INFINITY, 1000},
                           {'r', 1.5, -5}, {'r', 2, 100}, {'?', 2, 100},     {'?', kNaN, kNone}};
        QList<Step> streams{{'z', 0}};
        for (int s = 0; s <= 10; ++s)
            streams << Step{'r', double(s), s * 1e6, "a"} << Step{'r', s + 0.5, s * 1e6, "b"};
        QTest::newRow("streams add up") << (streams << Step{'?', 10.5, 2e6});
    }

    void reportsBecomeSpeeds()
    {
        QFETCH(QList<Step>, steps);
        DownloadRateMeter meter;
        for (const Step &step : steps) {
            if (step.call == 'z')
                meter.reset(step.at);
            else if (step.call == 'w')
                meter.restartWindow(step.at);
            else if (step.call == 'r')
                meter.record(step.stream, qint64(step.value), step.at);
            else
                QCOMPARE(meter.bytesPerSecond(step.at).value_or(kNone), step.value);
        }
    }

    void speedText()
    {
        // 2^63 no longer fits a qint64.
        const std::optional<double> noSpeeds[] = {std::nullopt, -1.0, std::nan(""), 0x1p63};
        for (const std::optional<double> &none : noSpeeds)
            QCOMPARE(DownloadRateMeter::speedText(none), QStringLiteral("скорость —"));
        QCOMPARE(DownloadRateMeter::speedText(0.0), QStringLiteral("0 Б/с"));
        QVERIFY(DownloadRateMeter::speedText(1.5e6).endsWith(QStringLiteral("/с")));
        QVERIFY(!DownloadRateMeter::speedText(1.5e6).endsWith(QStringLiteral(" /с")));
    }
};

TOVRIN_TEST(TestRateMeter);
#include "test_rate_meter.moc"
