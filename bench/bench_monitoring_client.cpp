// The monitoring client on the simulated portable: one synchronous call from the main thread through the
// capture thread and back (what every facade call but the cached ones costs), the capture thread's own CPU
// time for one sampling tick (taken every 2 s for the life of the program), and the main thread's cost of
// 100 gauges reading their raw values after a tick. A manual clock drives the ticks, so each iteration is exactly one
// tick; medians are reported as counters.

#include "acquisition/TEVMonitoringClient.h"
#include "bench/BenchSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SimulatedComputer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <pthread.h>
#include <time.h>

#include <chrono>
#include <future>
#include <vector>

namespace {

std::shared_ptr<platform::ManualClock> manualClock;
std::shared_ptr<TEVMonitoringClient> client;
clockid_t captureCpuClock{};

QString setUp()
{
    if (const QString failure = bench::useSimulatedPortable(); !failure.isNull())
        return failure;
    manualClock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(manualClock);

    client = TEVMonitoringClient::create(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("bench")));
    bool ready = false;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        TEVMonitoringClient::isReadyNotification, client, [&](const auto&) { ready = true; });
    QElapsedTimer guard;
    guard.start();
    while (!ready && guard.elapsed() < 10'000) {
        manualClock->advanceSeconds(0.1);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    platform::NotificationCenter::defaultCenter().removeObserver(token);
    if (!ready || !client->run())
        return QStringLiteral("the client did not become ready");

    std::promise<clockid_t> cpuClock;
    client->captureThread()->runLoop()->perform([&cpuClock] {
        clockid_t id{};
        pthread_getcpuclockid(pthread_self(), &id);
        cpuClock.set_value(id);
    });
    captureCpuClock = cpuClock.get_future().get();
    return {};
}

void synchronousCallRoundTrip(benchmark::State& state)
{
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(client->mainUpdateInterval());
        samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["median_us"] = bench::median(samples);
}

// The capture thread's CPU time for one call alone, to take out of the tick's figure below.
void captureCpuPerCall(benchmark::State& state)
{
    std::vector<double> samples;
    for (auto _ : state) {
        const double before = bench::cpuMicroseconds(captureCpuClock);
        benchmark::DoNotOptimize(client->mainUpdateInterval());
        samples.push_back(bench::cpuMicroseconds(captureCpuClock) - before);
    }
    state.counters["median_cpu_us"] = bench::median(samples);
}

void captureCpuPerTick(benchmark::State& state)
{
    std::vector<double> samples;
    for (auto _ : state) {
        const double before = bench::cpuMicroseconds(captureCpuClock);
        // The clock wakes the capture loop before the call is queued, so the tick runs first and the
        // call's answer means it is over.
        manualClock->advanceSeconds(2);
        benchmark::DoNotOptimize(client->mainUpdateInterval());
        samples.push_back(bench::cpuMicroseconds(captureCpuClock) - before);
    }
    state.counters["median_cpu_us"] = bench::median(samples);
    state.counters["sensors"] = double(client->numberOfAvailableSensors());
}

// Every gauge reads its sensor's last raw value once per tick on the main thread; 100 gauges, cycling
// through the portable's sensors.
void cachedRawValuesOf100GaugesPerTick(benchmark::State& state)
{
    const QStringList sensors = client->availableSensorIdentifiers();
    if (sensors.isEmpty()) {
        state.SkipWithError("no sensors");
        return;
    }
    QStringList gauges;
    while (gauges.size() < 100)
        gauges.append(sensors.at(gauges.size() % sensors.size()));
    std::vector<double> samples;
    for (auto _ : state) {
        state.PauseTiming();
        manualClock->advanceSeconds(2);
        benchmark::DoNotOptimize(client->mainUpdateInterval()); // the tick is over
        QCoreApplication::processEvents();
        state.ResumeTiming();
        const double before = bench::cpuMicroseconds(CLOCK_THREAD_CPUTIME_ID);
        qint64 sum = 0;
        for (const QString& gauge : std::as_const(gauges))
            sum += client->cachedRawValueWithIdentifier(gauge);
        samples.push_back(bench::cpuMicroseconds(CLOCK_THREAD_CPUTIME_ID) - before);
        benchmark::DoNotOptimize(sum);
    }
    state.counters["median_main_cpu_us"] = bench::median(samples);
    state.counters["gauges"] = double(gauges.size());
}

} // namespace

BENCHMARK(synchronousCallRoundTrip)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(captureCpuPerCall)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(captureCpuPerTick)->Unit(benchmark::kMicrosecond)->Iterations(2000);
BENCHMARK(cachedRawValuesOf100GaugesPerTick)->Unit(benchmark::kMicrosecond)->Iterations(1000);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir data; // the history file of the "bench" application goes here
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const QString error = setUp();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "bench_monitoring_client: %s\n", qPrintable(error));
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto thread = client->captureThread();
    client->shutdown();
    while (thread && thread->serverThread())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
    client.reset();
    platform::SimulatedComputer::setCurrent(nullptr);
    return 0;
}
