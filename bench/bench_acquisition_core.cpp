// The acquisition core's hot paths: one keyed set of raw values of the simulated portable (every capture
// tick), and a save and a load of a history file of 200 sensors × 10080 slots (autosave and start-up).

#include "acquisition/TEVDataAcquisitionCore.h"
#include "acquisition/TEVSensorHistoryFile.h"
#include "bench/BenchSupport.h"
#include "platform/foundation/SimulatedComputer.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

void currentRawValuesOfThePortable(benchmark::State& state)
{
    if (const QString failure = bench::useSimulatedPortable(); !failure.isNull()) {
        state.SkipWithError(qPrintable(failure));
        return;
    }
    TEVDataAcquisitionCore core;
    core.currentRawValues(); // the first reading opens the SMC and the drives
    for (auto _ : state)
        benchmark::DoNotOptimize(core.currentRawValues());
    state.counters["sensors"] = double(core.numberOfAvailableSensors());
    platform::SimulatedComputer::setCurrent(nullptr);
}

TEVSensorHistoryFile::Histories week(int sensors)
{
    TEVSensorHistoryFile::Histories histories;
    for (int s = 0; s < sensors; ++s) {
        auto history = TEVSensorHistory::create(TEVDataAcquisitionCore::LongTermHistoryValueCount, 60);
        history->setPresentRawValue(40 + s);
        histories.insert(QStringLiteral("sensor.%1").arg(s), history);
    }
    return histories;
}

void saveHistoryFile(benchmark::State& state)
{
    QTemporaryDir dir;
    TEVSensorHistoryFile file(dir.filePath(TEVSensorHistoryFile::fileName()));
    const auto histories = week(200);
    for (auto _ : state) {
        if (!file.saveEntry(QStringLiteral("C02M51K3FH00"), histories))
            state.SkipWithError("save failed");
    }
    state.counters["bytes"] = double(QFileInfo(file.path()).size());
}

void loadHistoryFile(benchmark::State& state)
{
    QTemporaryDir dir;
    TEVSensorHistoryFile file(dir.filePath(TEVSensorHistoryFile::fileName()));
    file.saveEntry(QStringLiteral("C02M51K3FH00"), week(200));
    for (auto _ : state) {
        const auto read = file.read();
        if (read.status != TEVSensorHistoryFile::ReadResult::Status::Read)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(read);
    }
}

} // namespace

BENCHMARK(currentRawValuesOfThePortable)->Unit(benchmark::kMicrosecond);
BENCHMARK(saveHistoryFile)->Unit(benchmark::kMillisecond);
BENCHMARK(loadHistoryFile)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
