#include "support/test_main.h"
#include "yandex/control_gate.h"

#include <QTest>

#include <future>

namespace {

std::future<Status> waitOn(ControlGate &gate)
{
    return std::async(std::launch::async, [&gate] { return gate.waitUntilReady(); });
}

bool stillWaiting(std::future<Status> &pending)
{
    return pending.wait_for(std::chrono::milliseconds(300)) == std::future_status::timeout;
}

} // namespace

class TestControlGate : public QObject {
    Q_OBJECT

private slots:
    void pausedGateHoldsUntilResume()
    {
        ControlGate gate;
        QVERIFY(gate.waitUntilReady().ok());
        gate.pause();
        auto first = waitOn(gate);
        auto second = waitOn(gate);
        QVERIFY(stillWaiting(first));
        gate.resume();
        QVERIFY(first.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
        QVERIFY(second.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
        QVERIFY(first.get().ok() && second.get().ok());
        QVERIFY(gate.waitUntilReady().ok());
    }

    void cancelOnAPausedGateFailsTheWaiters()
    {
        ControlGate gate;
        gate.pause();
        auto pending = waitOn(gate);
        QVERIFY(stillWaiting(pending));
        gate.cancel();
        QVERIFY(pending.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
        const Status status = pending.get();
        QVERIFY(!status.ok());
        QVERIFY(status.error().isCancelled());
        QVERIFY(gate.token().isCancelled());
        QVERIFY(!gate.isPaused());
        // A cancel is final: pausing and resuming cannot reopen the gate.
        gate.pause();
        gate.resume();
        QVERIFY(gate.waitUntilReady().error().isCancelled());
    }
};

TOVRIN_TEST(TestControlGate);
#include "test_control_gate.moc"
