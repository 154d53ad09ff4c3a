#include "private_bus.h"
#include "support/test_main.h"
#include "ui/single_instance.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString kService = QStringLiteral("local.tovrin.mac");

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void aSecondStartHandsItsActivationToTheRunningCopy()
    {
        PrivateBus bus;
        QVERIFY2(!bus.address.isEmpty(), "dbus-daemon did not start");

        auto running = std::make_unique<SingleInstance>(kService, bus.connect("running"));
        QSignalSpy activations(running.get(), &SingleInstance::activationRequested);
        QVERIFY(running->claim());

        SingleInstance second(kService, bus.connect("second"));
        QVERIFY(!second.claim(QStringLiteral("token-42")));
        QVERIFY(second.handedOver());
        QCOMPARE(activations.size(), 1);
        QCOMPARE(activations.first().first().toString(), QStringLiteral("token-42"));

        // Once the running copy ends, the next start runs as the only one.
        running.reset();
        SingleInstance third(kService, bus.connect("third"));
        QVERIFY(third.claim());
        QDBusConnection::disconnectFromBus("running");
        QDBusConnection::disconnectFromBus("second");
        QDBusConnection::disconnectFromBus("third");
    }

    void withoutASessionBusEveryStartRunsOnItsOwn()
    {
        SingleInstance lone(kService, QDBusConnection::connectToBus(
                                          QStringLiteral("unix:path=/nonexistent/bus"), "none"));
        QVERIFY(!lone.claim());
        QVERIFY(!lone.handedOver());
        QDBusConnection::disconnectFromBus("none");
    }
};

TOVRIN_TEST(TestSingleInstance);
#include "test_single_instance.moc"
