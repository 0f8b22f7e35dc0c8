// One update tick of the whole program on the simulated portable with the windows of a first launch: the
// sensor window, the sensor overview, the tray and the application icon. Counters, medians of the main
// thread's CPU time:
//   tick_cpu_us     everything the main thread does in one update interval (the timed update, the capture
//                   thread's reports, the repaints that follow), the clock moved on by one interval;
//   update_cpu_us   the timed update alone (AppController::processTimedUpdate) with fresh values;
//   unchanged_us    the timed update once more right after, when nothing shown has changed.
// A manual clock drives the ticks. On a display (best Xvfb with a tray host, trayer) the tray and the icon
// reach a real X server; without one it runs offscreen, where they are only drawn.

#include "acquisition/TEVCaptureThread.h"
#include "acquisition/TEVMonitoringClient.h"
#include "app/controller/AppController.h"
#include "app/model/MonitorPreferences.h"
#include "bench/BenchSupport.h"
#include "platform/desktop/widgets/QtStatusItem.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/SimulatedComputer.h"
#include "windows/MinMaxWindowController.h"
#include "windows/TEVDockDisplay.h"
#include "windows/TEVSensorWindowController.h"
#include "windows/info/QtMonitorWindowFactory.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

std::shared_ptr<platform::ManualClock> manualClock;
std::shared_ptr<AppController> controller;

// Turns the event loop for `ms` of real time: the capture thread's reports arrive, the windows repaint.
void turn(int ms)
{
    // Waits for events rather than polling, so the loop's own spinning is not counted.
    bool over = false;
    QTimer::singleShot(ms, [&over] { over = true; });
    while (!over)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void pump(double seconds)
{
    for (double done = 0; done < seconds; done += 0.1) {
        manualClock->advanceSeconds(0.1);
        turn(2);
    }
}

QString setUp()
{
    if (const QString failure = bench::useSimulatedPortable(); !failure.isNull())
        return failure;
    platform::Bundle::setMain(platform::Bundle::forProgram(QStringLiteral("Kelvaro")));
    manualClock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(manualClock);

    // The windows the program's main makes, less those a first launch does not open.
    ApplicationWindows windows = ApplicationWindows::doNothing();
    windows.makeMonitorWindowFactory = [](const QString& className, const QString& title) -> std::shared_ptr<MonitorWindowFactory> {
        return QtMonitorWindowFactory::monitorWindowFactoryForClass(className, title);
    };
    windows.makeSensorWindow = [](qint64 style, const QString& autosaveName) {
        return std::make_shared<TEVSensorWindowController>(style, autosaveName);
    };
    windows.makeMinMaxWindow = [] { return std::make_shared<MinMaxWindowController>(); };
    windows.dockTile = std::make_shared<TEVDockDisplay>();
    windows.makeStatusItem = [] { return std::make_shared<platform::QtStatusItem>(); };
    controller = std::make_shared<AppController>(std::move(windows));
    TEVApplicationDelegate::setApplicationDelegate(controller);
    controller->applicationWillFinishLaunching();
    controller->applicationDidFinishLaunching();
    QElapsedTimer guard;
    guard.start();
    while (!controller->localPreferences() && guard.elapsed() < 20'000)
        pump(0.5);
    if (!controller->localPreferences())
        return QStringLiteral("the local client did not become ready");
    pump(6); // the first ticks: every gauge has a value, every window has been laid out
    const auto overview = controller->monitorWindowFactory(AppController::kSensorOverview);
    if (!overview || !overview->isWindowVisible())
        return QStringLiteral("the sensor overview is not open");
    if (!controller->statusItem())
        return QStringLiteral("there is no tray item");
    return {};
}

double intervalSeconds()
{
    return double(std::max<quint64>(1, controller->monitorPreferences()->sensorUpdateInterval()));
}

void firstLaunchTick(benchmark::State& state)
{
    std::vector<double> samples;
    for (auto _ : state) {
        const double before = bench::cpuMicroseconds();
        manualClock->advanceSeconds(intervalSeconds());
        turn(60);
        samples.push_back(bench::cpuMicroseconds() - before);
    }
    state.counters["tick_cpu_us"] = bench::median(samples);
}

void timedUpdate(benchmark::State& state)
{
    std::vector<double> fresh, unchanged;
    for (auto _ : state) {
        state.PauseTiming();
        // Half an interval: the capture thread has sampled, the scheduled tick is not yet due.
        manualClock->advanceSeconds(intervalSeconds() / 2);
        turn(30);
        state.ResumeTiming();
        double before = bench::cpuMicroseconds();
        controller->processTimedUpdate();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        fresh.push_back(bench::cpuMicroseconds() - before);
        before = bench::cpuMicroseconds();
        controller->processTimedUpdate();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        unchanged.push_back(bench::cpuMicroseconds() - before);
        state.PauseTiming();
        manualClock->advanceSeconds(intervalSeconds() / 2);
        turn(30);
        state.ResumeTiming();
    }
    state.counters["update_cpu_us"] = bench::median(fresh);
    state.counters["unchanged_us"] = bench::median(unchanged);
}

} // namespace

BENCHMARK(firstLaunchTick)->Unit(benchmark::kMillisecond)->Iterations(60);
BENCHMARK(timedUpdate)->Unit(benchmark::kMillisecond)->Iterations(60);

int main(int argc, char** argv)
{
    // The preferences and the history file go to folders of their own: every run is a first launch.
    QTemporaryDir config;
    QTemporaryDir data;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("KELVARO_NONINTERACTIVE", "1");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QApplication::setQuitOnLastWindowClosed(false);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const QString error = setUp();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "bench_first_launch_tick: %s\n", qPrintable(error));
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::vector<std::weak_ptr<TEVCaptureThread>> threads;
    for (const auto& client : controller->monitorClients())
        if (const auto local = std::dynamic_pointer_cast<TEVMonitoringClient>(client))
            threads.push_back(local->captureThread());
    controller->applicationWillTerminate();
    TEVApplicationDelegate::setApplicationDelegate(nullptr);
    controller.reset();
    // The capture threads hand their last reference back to this thread as they end.
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() &&
           !std::all_of(threads.cbegin(), threads.cend(), [](const auto& t) { return t.expired(); }))
        turn(10);
    platform::SimulatedComputer::setCurrent(nullptr);
    return 0;
}
