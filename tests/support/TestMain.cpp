// Test main of the headless test executables: a core application is enough for their event loops.

#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    return kelvaro::test::runAllTests(argc, argv, [](int& c, char** v) { return std::make_unique<QCoreApplication>(c, v); });
}
