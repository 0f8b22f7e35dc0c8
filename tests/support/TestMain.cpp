// Test main: an application object for event loops, private XDG folders, a manual clock and a capturing
// log around every test, so no test touches the user's files, waits for real time or writes to syslog.

#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir xdg;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_DESKTOP_DIR"}) {
        const QString dir = xdg.path() + QLatin1Char('/') + QString::fromLatin1(name);
        QDir().mkpath(dir);
        qputenv(name, dir.toUtf8());
    }
    qputenv("HOME", xdg.path().toUtf8());
    qunsetenv("KELVARO_SIMULATED_COMPUTER");

    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new kelvaro::test::TestEnvironment);
    ::testing::UnitTest::GetInstance()->listeners().Append(new kelvaro::test::PerTestFixtures);
    return RUN_ALL_TESTS();
}
