// Test main of the history windows: a widget application on the offscreen platform.

#include "tests/support/TestEnvironment.h"

#include <QApplication>

int main(int argc, char** argv)
{
    return kelvaro::test::runAllTests(argc, argv, [](int& c, char** v) { return std::make_unique<QApplication>(c, v); });
}
