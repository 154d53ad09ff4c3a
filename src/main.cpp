#include "app/platform/preference_keys.h"
#include "ui/icons.h"
#include "ui/main_window.h"
#include "ui/single_instance.h"

#include <QApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString(kApplicationId));
    QApplication::setApplicationDisplayName(QStringLiteral("Tovrin"));
    QApplication::setApplicationVersion(QStringLiteral("3.0"));
    QApplication::setDesktopFileName(QString(kApplicationId));
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance{QString(kApplicationId)};
    if (!instance.claim() && instance.handedOver())
        return 0;

    // Qt's own dialogs (the folder chooser) speak the interface's language.
    QTranslator qtTranslations;
    if (qtTranslations.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                            QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslations);

    MainWindow window(new QLabel(QStringLiteral("Яндекс Диск")), new QLabel(QStringLiteral("Видео")));
    window.setWindowIcon(Icons::appIcon());
    QObject::connect(&window, &MainWindow::quitRequested, &app, &QApplication::quit);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                     &MainWindow::bringToFront);
    window.show();
    return app.exec();
}
