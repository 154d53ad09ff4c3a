#include "app/platform/preference_keys.h"
#include "ui/main_window.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString(kApplicationId));
    QApplication::setApplicationDisplayName(QStringLiteral("Tovrin"));
    QApplication::setApplicationVersion(QStringLiteral("3.0"));
    QApplication::setDesktopFileName(QString(kApplicationId));

    MainWindow window;
    window.show();
    return app.exec();
}
