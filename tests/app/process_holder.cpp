// A program that starts its argument through ProcessRunner and waits: the test kills it and
// checks that the child died with it.
#include "app/process/process_runner.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    ProcessRunner runner;
    runner.start({.program = app.arguments().value(1)});
    return app.exec();
}
