// The application controller's update tick on the simulated portable: the main thread's CPU time for one
// tick (configuration poll, output cache refill of every gauge, the channels) with the real monitoring
// client. A manual clock drives the ticks; the median is reported as a counter.

#include "acquisition/MonitoringClient.h"
#include "app/controller/AppController.h"
#include "app/model/MachinePreferences.h"
#include "bench/BenchSupport.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/SimulatedComputer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

std::shared_ptr<platform::ManualClock> manualClock;
std::shared_ptr<AppController> controller;

void pump(double seconds)
{
    for (double done = 0; done < seconds; done += 0.1) {
        manualClock->advanceSeconds(0.1);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

QString setUp()
{
    if (const QString failure = bench::useSimulatedPortable(); !failure.isNull())
        return failure;
    manualClock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(manualClock);

    controller = std::make_shared<AppController>();
    controller->applicationDidFinishLaunching();
    QElapsedTimer guard;
    guard.start();
    while (!controller->localPreferences() && guard.elapsed() < 20'000)
        pump(0.5);
    if (!controller->localPreferences())
        return QStringLiteral("the local client did not become ready");
    pump(4); // the first ticks: every gauge has a value
    return {};
}

void updateTick(benchmark::State& state)
{
    std::vector<double> samples;
    for (auto _ : state) {
        state.PauseTiming();
        // The capture thread samples first, so the tick reads fresh values.
        manualClock->advanceSeconds(2);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        state.ResumeTiming();
        const double before = bench::cpuMicroseconds();
        controller->processTimedUpdate();
        samples.push_back(bench::cpuMicroseconds() - before);
    }
    state.counters["median_cpu_us"] = bench::median(samples);
    state.counters["gauges"] = double(controller->universalIdentifiersOfConnectedSensors().size());
}

} // namespace

BENCHMARK(updateTick)->Unit(benchmark::kMicrosecond)->Iterations(500);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The preferences and the history file go to folders of their own.
    QTemporaryDir config;
    QTemporaryDir data;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const QString error = setUp();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "bench_update_tick: %s\n", qPrintable(error));
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The controller goes first, so the clients' last reports find nobody to relaunch them.
    const auto clients = controller->monitorClients();
    controller.reset();
    for (const auto& client : clients)
        client->shutdown();
    pump(1);
    platform::SimulatedComputer::setCurrent(nullptr);
    return 0;
}
