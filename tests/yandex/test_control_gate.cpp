#include "support/test_main.h"
#include "yandex/control_gate.h"

#include <QTest>

#include <future>

class TestControlGate : public QObject {
    Q_OBJECT

private slots:
    // A paused gate holds every waiter until resume, any number of times; a cancel fails them
    // and is final.
    void holdsWhilePausedAndCancelIsFinal()
    {
        using namespace std::chrono;
        ControlGate gate;
        QVERIFY(gate.waitUntilReady().ok());
        for (const bool cancel : {false, false, true}) {
            gate.pause();
            auto first = std::async(std::launch::async, [&] { return gate.waitUntilReady(); });
            auto second = std::async(std::launch::async, [&] { return gate.waitUntilReady(); });
            QVERIFY(first.wait_for(milliseconds(300)) == std::future_status::timeout);
            cancel ? gate.cancel() : gate.resume();
            QVERIFY(first.wait_for(seconds(5)) == std::future_status::ready);
            QVERIFY(second.wait_for(seconds(5)) == std::future_status::ready);
            QCOMPARE(first.get().ok(), !cancel);
            QCOMPARE(second.get().ok(), !cancel);
        }
        QVERIFY(gate.token().isCancelled());
        QVERIFY(!gate.isPaused());
        gate.pause();
        gate.resume();
        QVERIFY(!gate.waitUntilReady().ok());
    }
};

TOVRIN_TEST(TestControlGate);
#include "test_control_gate.moc"
