#pragma once
// Per-test fixtures installed by the test main: a fresh ManualClock and a capturing log for every test.

#include "platform/foundation/Clock.h"
#include "tests/support/CapturingLog.h"

#include <QCoreApplication>
#include <QDir>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

namespace kelvaro::test {

class TestEnvironment : public ::testing::Environment {};

class PerTestFixtures : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override;
    void OnTestEnd(const ::testing::TestInfo&) override;
};

// Runs every test with the application object `makeApplication` creates, after selecting the offscreen Qt
// platform and private XDG folders, with a manual clock and a capturing log around every test. An
// executable whose tests need a GUI or widget application has its own main that calls this; the others
// link tests/support/TestMain.cpp.
int runAllTests(int argc, char** argv,
                const std::function<std::unique_ptr<QCoreApplication>(int&, char**)>& makeApplication);

// The manual clock of the running test.
std::shared_ptr<platform::ManualClock> clock();
// The log of the running test.
CapturingLog& log();

// A file under tests/data (real third-party samples) or the repository root.
QString testDataPath(const QString& relative);
QString sourcePath(const QString& relative);
QByteArray readFile(const QString& path);
// Writes `bytes` to `path`, creating its folders; a failure fails the running test.
void writeFile(const QString& path, const QByteArray& bytes);

// Runs the main thread's run loop until `done` holds; a real-time guard of `guardMs` turns a hang into a
// false result. The manual clock is not moved.
bool waitFor(const std::function<bool()>& done, int guardMs = 10'000);
// Turns the Qt event loop (not the run loop) until `done` holds, moving the manual clock by `step` seconds a
// turn (0: not at all); a real-time guard of 10 s turns a hang into a false result.
bool runMainLoopUntil(const std::function<bool()>& done, double step = 0);

// Drops `held`, then turns the event loop until nothing else holds the object either. A server's thread
// hands its last reference to the main loop when it ends, a moment after it reports the end: a test that
// stopped looking before then leaves the thread behind at the exit, where the leak check finds it.
template <typename T>
bool waitUntilReleased(std::shared_ptr<T>& held)
{
    const std::weak_ptr<T> weak = std::exchange(held, nullptr);
    return runMainLoopUntil([&] { return weak.expired(); });
}

} // namespace kelvaro::test
