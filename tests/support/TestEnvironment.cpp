#include "tests/support/TestEnvironment.h"

#include "platform/foundation/RunLoop.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

namespace kelvaro::test {
namespace {

std::shared_ptr<platform::ManualClock> g_clock;
std::shared_ptr<CapturingLog> g_log = std::make_shared<CapturingLog>();

} // namespace

void PerTestFixtures::OnTestStart(const ::testing::TestInfo&)
{
    g_clock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(g_clock);
    g_log = std::make_shared<CapturingLog>();
    platform::setLogSink(g_log);
}

void PerTestFixtures::OnTestEnd(const ::testing::TestInfo& info)
{
    // A failing test shows what it logged.
    if (info.result() && info.result()->Failed()) {
        for (const QString& line : g_log->lines())
            fprintf(stderr, "[log] %s", qPrintable(line));
    }
    platform::setLogSink(nullptr);
    platform::Clock::setShared(nullptr);
}

int runAllTests(int argc, char** argv,
                const std::function<std::unique_ptr<QCoreApplication>(int&, char**)>& makeApplication)
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

    const auto app = makeApplication(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new TestEnvironment);
    ::testing::UnitTest::GetInstance()->listeners().Append(new PerTestFixtures);
    return RUN_ALL_TESTS();
}

std::shared_ptr<platform::ManualClock> clock()
{
    return g_clock;
}

CapturingLog& log()
{
    return *g_log;
}

QString testDataPath(const QString& relative)
{
    return QStringLiteral(KELVARO_TEST_DATA_DIR "/") + relative;
}

QString sourcePath(const QString& relative)
{
    return QStringLiteral(KELVARO_SOURCE_DIR "/") + relative;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

bool waitFor(const std::function<bool()>& done, int guardMs)
{
    bool expired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] { expired = true; });
    guard.start(guardMs);
    // No limit of the run loop's own: it would be measured on the manual clock, which the test (or a
    // clock step queued to another thread) may move by hours meanwhile; the real-time guard bounds it.
    // What was seen is the answer: asked again, a condition that holds for a moment (a count passing zero)
    // could read otherwise.
    bool met = false;
    platform::RunLoop::main()->runUntil([&] { return (met = done()) || expired; }, platform::Clock::Duration::max());
    return met;
}

bool runMainLoopUntil(const std::function<bool()>& done, double step)
{
    QElapsedTimer guard;
    guard.start();
    while (!done()) {
        if (guard.elapsed() > 10'000)
            return false;
        if (step > 0)
            clock()->advanceSeconds(step);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

} // namespace kelvaro::test
