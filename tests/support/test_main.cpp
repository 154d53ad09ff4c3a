#include "support/test_main.h"

#include <QTest>

std::vector<TestFactory> &registeredTests()
{
    static std::vector<TestFactory> tests;
    return tests;
}

int runRegisteredTests(int argc, char *argv[])
{
    int status = 0;
    for (const TestFactory &make : registeredTests()) {
        const std::unique_ptr<QObject> test = make();
        status |= QTest::qExec(test.get(), argc, argv);
    }
    return status;
}
