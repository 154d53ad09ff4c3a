#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

// One binary per area runs every test class registered in it; any failure fails the binary.
using TestFactory = std::function<std::unique_ptr<QObject>()>;
std::vector<TestFactory> &registeredTests();
int runRegisteredTests(int argc, char *argv[]);

#define TOVRIN_TEST(Class)                                                                         \
    static const bool kRegistered##Class = [] {                                                    \
        registeredTests().push_back([] { return std::make_unique<Class>(); });                     \
        return true;                                                                               \
    }()
