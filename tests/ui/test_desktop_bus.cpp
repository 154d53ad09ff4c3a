#include "app/download_history.h"
#include "app/finish_notices.h"
#include "private_bus.h"
#include "support/fake_desktop_services.h"
#include "support/fake_preferences.h"
#include "support/test_main.h"
#include "ui/color_scheme_portal.h"
#include "ui/components/destination_row.h"
#include "ui/desktop_notifications.h"
#include "ui/main_window.h"
#include "ui/theme.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

// The desktop's notification service as far as the program uses it; it records every notice.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice {
        QString app, icon, title, body;
        QStringList actions;
    };
    QList<Notice> notices;

public slots:
    QStringList GetCapabilities() { return {"actions", "body"}; }
    uint Notify(const QString &app, uint, const QString &icon, const QString &title,
                const QString &body, const QStringList &actions, const QVariantMap &, int)
    {
        notices.append({app, icon, title, body, actions});
        return uint(notices.size());
    }
};

// The desktop portal's settings: Debian 12's portal knows only Read, newer ones ReadOne too.
class PortalSettings : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    bool hasReadOne = true;

public slots:
    QDBusVariant ReadOne(const QString &, const QString &)
    {
        if (!hasReadOne)
            sendErrorReply(QDBusError::UnknownMethod, QStringLiteral("no ReadOne"));
        return QDBusVariant(uint(1));
    }
    QDBusVariant Read(const QString &, const QString &)
    {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(uint(1))));
    }
};

// Offers `object` on `bus` as the service, at the object path.
bool serve(QDBusConnection bus, const QString &service, const QString &path, QObject *object)
{
    return bus.registerObject(path, object, QDBusConnection::ExportAllSlots)
           && bus.registerService(service);
}

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

class TestDesktopBus : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        Theme::setScheme(Theme::Scheme::Light);
        for (const char *name : {"app", "desktop"})
            QDBusConnection::disconnectFromBus(name);
    }

    void colorSchemeFollowsThePortal_data()
    {
        QTest::addColumn<bool>("portal");
        QTest::addColumn<bool>("hasReadOne");
        QTest::newRow("current portal") << true << true;
        QTest::newRow("Debian 12 portal, Read only") << true << false;
        QTest::newRow("no portal: light") << false << false;
    }

    // The start value and a live change reach what is already on screen: the palette, the
    // texts' emphasis and the icons' tints.
    void colorSchemeFollowsThePortal()
    {
        QFETCH(bool, portal);
        QFETCH(bool, hasReadOne);
        PrivateBus bus;
        QDBusConnection desktop = bus.connect("desktop");
        PortalSettings settings;
        settings.hasReadOne = hasReadOne;
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
        if (portal)
            QVERIFY(serve(desktop, "org.freedesktop.portal.Desktop", path, &settings));

        DestinationRow row;
        row.show();
        QLabel *caption = nullptr;
        for (QLabel *label : row.findChildren<QLabel *>())
            if (label->text() == QStringLiteral("Папка сохранения"))
                caption = label;
        QVERIFY(caption);
        const auto captionIsLight = [&] {
            return caption->palette().color(QPalette::WindowText).lightness() > 128;
        };
        const auto folderTint = [&] {
            for (QLabel *label : row.findChildren<QLabel *>())
                if (!label->pixmap().isNull())
                    return label->pixmap().toImage().pixelColor(10, 10).rgb();
            return QRgb(0);
        };
        const QRgb lightYellow = Theme::yellow().rgb();
        QVERIFY(!captionIsLight());

        ColorSchemePortal colorScheme(bus.connect("app"));
        connect(&colorScheme, &ColorSchemePortal::schemeChanged, this, &Theme::setScheme);
        QSignalSpy settled(&colorScheme, &ColorSchemePortal::settled);
        colorScheme.read();
        QTRY_COMPARE(settled.size(), 1);
        if (!portal) {
            QCOMPARE(Theme::scheme(), Theme::Scheme::Light);
            return;
        }
        QCOMPARE(Theme::scheme(), Theme::Scheme::Dark);
        QTRY_VERIFY(captionIsLight());
        QVERIFY(QApplication::palette().color(QPalette::Window).lightness() < 64);
        QCOMPARE(folderTint(), Theme::yellow().rgb());

        QDBusMessage changed =
            QDBusMessage::createSignal(path, "org.freedesktop.portal.Settings", "SettingChanged");
        changed << "org.freedesktop.appearance"
                << "color-scheme" << QVariant::fromValue(QDBusVariant(uint(2)));
        desktop.send(changed);
        QTRY_COMPARE(Theme::scheme(), Theme::Scheme::Light);
        QTRY_VERIFY(!captionIsLight());
        QCOMPARE(folderTint(), lightYellow);
    }

    // A run or job that ends while the window is inactive is one notice, whose action shows what
    // it produced; while the window is active there is none; without a service nothing waits.
    void endsAreNotifiedWhileTheWindowIsInactive()
    {
        PrivateBus bus;
        QTemporaryDir dir;
        const QString produced = dir.filePath("clip.mp4");
        QFile(produced).open(QIODevice::WriteOnly);
        FakePreferences prefs;
        FakeDesktopServices files;
        DownloadHistory history(prefs, files, QStringLiteral("history"), 10);
        const auto end = [&](const QString &name) {
            history.add({QUuid::createUuid(), name, produced, QDateTime::currentDateTime(),
                         DownloadHistoryItem::Result::Completed, "Готово — " + name});
        };

        DesktopNotifications notifications(bus.connect("app"), QStringLiteral("local.tovrin.mac"));
        bool looking = false;
        FinishNotices notices(notifications, [&] { return looking; });
        notices.watch(history);
        end("без службы"); // nobody answers: dropped, not kept for later
        // The bus answers this connection in order: once it says the service is absent, the
        // notice above has had its refusal, which reaches us only after the service appears
        // and the next notice came: that one must not be dropped with it.
        QVERIFY(!bus.connect("app").interface()->isServiceRegistered(kNotifications));

        NotificationServer server;
        QDBusConnection desktop = bus.connect("desktop");
        QVERIFY(serve(desktop, kNotifications, kNotificationsPath, &server));
        looking = true;
        end("пока окно активно");
        looking = false;
        end("Ролик");
        QTRY_COMPARE(server.notices.size(), 1);
        const NotificationServer::Notice &notice = server.notices.first();
        QCOMPARE(QStringList({notice.app, notice.icon, notice.title, notice.body}),
                 QStringList({"Tovrin", "local.tovrin.mac", "Ролик", "Готово — Ролик"}));
        QVERIFY(notice.actions.contains(QStringLiteral("Показать в папке")));

        QDBusMessage invoked =
            QDBusMessage::createSignal(kNotificationsPath, kNotifications, "ActionInvoked");
        invoked << uint(1) << notice.actions.first();
        desktop.send(invoked);
        QTRY_COMPARE(files.selected, QStringList{produced});
    }

    // Closed while busy on a desktop without a tray, the window says why the program stays;
    // "Выйти" in a screen's folder menu quits.
    void theWindowExplainsWhyItStaysAndQuitsFromTheFolderMenu()
    {
        PrivateBus bus;
        NotificationServer server;
        QVERIFY(serve(bus.connect("desktop"), kNotifications, kNotificationsPath, &server));
        DesktopNotifications notifications(bus.connect("app"), QStringLiteral("local.tovrin.mac"));
        auto *screen = new QWidget;
        auto *row = new DestinationRow(screen);
        MainWindow window(screen, new QWidget);
        window.setBusyCheck([] { return true; });
        window.setTrayAvailable(false);
        window.setNotifications(&notifications);
        window.show();
        QVERIFY(!window.close());
        QTRY_COMPARE(server.notices.size(), 1);
        QVERIFY(server.notices.first().body.contains(QStringLiteral("«Выйти» в меню")));

        QSignalSpy quit(&window, &MainWindow::quitRequested);
        row->menuButton()->menu()->actions().last()->trigger();
        QCOMPARE(quit.size(), 1);
    }
};

TOVRIN_TEST(TestDesktopBus);
#include "test_desktop_bus.moc"
