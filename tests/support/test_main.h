#pragma once

#include <QObject>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

// One binary per area runs every test class registered in it; any failure fails the binary.
using TestFactory = std::function<std::unique_ptr<QObject>()>;

inline std::vector<TestFactory> &registeredTests()
{
    static std::vector<TestFactory> tests;
    return tests;
}

inline int runRegisteredTests(int argc, char *argv[])
{
    int status = 0;
    for (const TestFactory &make : registeredTests())
        status |= QTest::qExec(make().get(), argc, argv);
    return status;
}

#define TOVRIN_TEST(Class)                                                                         \
    static const bool kRegistered##Class = [] {                                                    \
        registeredTests().push_back([] { return std::make_unique<Class>(); });                     \
        return true;                                                                               \
    }()
