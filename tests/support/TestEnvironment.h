#pragma once
// Per-test fixtures installed by the test main: a fresh ManualClock and a capturing log for every test.

#include "platform/foundation/Clock.h"
#include "tests/support/CapturingLog.h"

#include <QDir>

#include <gtest/gtest.h>

namespace kelvaro::test {

class TestEnvironment : public ::testing::Environment {};

class PerTestFixtures : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override;
    void OnTestEnd(const ::testing::TestInfo&) override;
};

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

} // namespace kelvaro::test
