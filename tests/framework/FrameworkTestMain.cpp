// Test main of the framework: the text builder measures fonts, which needs a GUI application.

#include "tests/support/TestEnvironment.h"

#include <QGuiApplication>

int main(int argc, char** argv)
{
    return kelvaro::test::runAllTests(argc, argv, [](int& c, char** v) { return std::make_unique<QGuiApplication>(c, v); });
}
