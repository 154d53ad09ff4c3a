#include "app/finish_notices.h"
#include "app/platform/curl_http_client.h"
#include "app/platform/preference_keys.h"
#include "app/platform/settings_preferences.h"
#include "app/platform/system_clock.h"
#include "app/platform/system_locations.h"
#include "app/process/process_group_registry.h"
#include "engine/engine_preparation.h"
#include "engine/release_tool.h"
#include "engine/tool_installer.h"
#include "ui/color_scheme_portal.h"
#include "ui/desktop_notifications.h"
#include "ui/icons.h"
#include "ui/launcher_entry.h"
#include "ui/main_window.h"
#include "ui/quit_signals.h"
#include "ui/single_instance.h"
#include "ui/system_desktop_services.h"
#include "ui/video_download_view.h"
#include "ui/yandex_download_view.h"
#include "video/download_model.h"
#include "yandex/download_manager.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>

#include <utility>

// How long quitting waits for the jobs to clean up: longer than a child's grace between SIGTERM
// and SIGKILL, short enough that a logout is not held up.
constexpr int kQuitGraceMs = 5000;

// The only place that creates the real services and hands them to the models.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString(kApplicationId));
    QApplication::setApplicationDisplayName(QStringLiteral("Tovrin"));
    QApplication::setApplicationVersion(QStringLiteral("3.0"));
    QApplication::setDesktopFileName(QString(kApplicationId));
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(QString(kApplicationId), QDBusConnection::sessionBus());
    // The desktop hands a start its activation token this way; the running window needs it to
    // take the focus when a second start passes it on.
    if (!instance.claim(qEnvironmentVariable("XDG_ACTIVATION_TOKEN")) && instance.handedOver())
        return 0;

    // Qt's own dialogs (the folder chooser) speak the interface's language.
    QTranslator qtTranslations;
    if (qtTranslations.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                            QStringLiteral("_"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslations);

    SettingsPreferences preferences;
    SystemClock clock;
    SystemLocations locations;
    SystemDesktopServices desktop;
    CurlHttpClient http;
    ProcessGroupRegistry processGroups;
    QuitSignals quitSignals;

    DownloadManager yandexManager({http, preferences, clock, locations, desktop});

    InstallerSetup installerSetup;
    installerSetup.feedBaseUrl = QUrl(QString(kReleaseFeedBaseUrl));
    installerSetup.supportFolder = locations.applicationSupport();
    installerSetup.tempFolder = locations.temp();
    installerSetup.http = &http;
    EnginePreparation engine(ToolInstaller(engineReleaseTool(), installerSetup), preferences, clock,
                             systemEngineCandidates(),
                             RuntimeSetup{ToolInstaller(runtimeReleaseTool(), installerSetup)});
    DownloadModelOptions videoOptions;
    videoOptions.processGroups = &processGroups;
    DownloadModel videoModel({preferences, clock, locations, desktop, engine}, videoOptions);

    MainWindow window(new YandexDownloadView(yandexManager), new VideoDownloadView(videoModel));
    desktop.setWindow(&window);
    window.setWindowIcon(Icons::appIcon());
    window.setBusyCheck([&] { return !yandexManager.state().canStart() || videoModel.isBusy(); });
    // exit(), not quit(): Qt's quit() first asks every window to close, and the window refuses
    // while something downloads, so "Выйти" and SIGTERM/SIGHUP would be ignored exactly then.
    // Every video job first ends its processes and removes its work files, for a few seconds at
    // most; whatever is left then is killed below.
    const auto exit = [] { QCoreApplication::exit(0); };
    QObject::connect(&videoModel, &DownloadModel::stopped, &app, exit);
    bool quitting = false;
    const auto quit = [&] {
        if (std::exchange(quitting, true))
            return;
        QTimer::singleShot(kQuitGraceMs, &app, exit);
        videoModel.stopAll();
    };
    QObject::connect(&window, &MainWindow::quitRequested, &app, quit);
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, quit);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                     &MainWindow::bringToFront);

    // The desktop around the window: its notices, the dock's progress bar, light or dark.
    QDBusConnection session = QDBusConnection::sessionBus();
    DesktopNotifications notifications(session, QString(kApplicationId));
    window.setNotifications(&notifications);
    FinishNotices finishNotices(notifications,
                                [] { return QApplication::activeWindow() != nullptr; });
    finishNotices.watch(yandexManager.history());
    finishNotices.watch(videoModel.history());
    LauncherEntry launcher(session, QString(kApplicationId), [&] {
        return LauncherEntry::overall(yandexManager.state(), videoModel.queue().state());
    });
    QObject::connect(&yandexManager, &DownloadManager::stateChanged, &launcher,
                     &LauncherEntry::refresh);
    QObject::connect(&videoModel.queue(), &DownloadQueue::stateChanged, &launcher,
                     &LauncherEntry::refresh);
    ColorSchemePortal colorScheme(session);
    QObject::connect(&colorScheme, &ColorSchemePortal::schemeChanged, &app, &Theme::setScheme);
    // The first frame already has the desktop's colours: the window shows once the portal has
    // answered (or surely will not).
    QObject::connect(&colorScheme, &ColorSchemePortal::settled, &window, [&window] {
        if (!window.isVisible())
            window.show();
    });
    colorScheme.read();
    const int status = app.exec();
    // Nothing the program started may outlive it.
    processGroups.endAll();
    return status;
}
