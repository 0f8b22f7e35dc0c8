// One sample of every local sampler and one read of every probe kind on this machine.

#include "bench/BenchSupport.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVLocalCPULoadProbe.h"
#include "sensors/TEVLocalMemoryProbe.h"
#include "sensors/TEVLocalNetworkProbe.h"


#include <benchmark/benchmark.h>

namespace {

void AllLocalSamplersOneTick(benchmark::State& state)
{
    const auto root = platform::HostRoot::current();
    TEVLocalCPULoadProbe cpu(root);
    const auto memory = TEVLocalMemoryProbe::create(root);
    const auto network = TEVLocalNetworkProbe::create(root);
    for (auto _ : state) {
        benchmark::DoNotOptimize(cpu.sample());
        benchmark::DoNotOptimize(memory && memory->sample());
        benchmark::DoNotOptimize(network && network->sample());
    }
}
BENCHMARK(AllLocalSamplersOneTick)->MeasureProcessCPUTime();

void EveryProbeKindOneRead(benchmark::State& state)
{
    using Probe = TEVArtificialSensor;
    QList<std::shared_ptr<Probe>> probes{Probe::createAsLoadSensorForCPUAtIndex(0), Probe::createAsTotalCPULoadSensor(),
                                         Probe::createAsProcessCountSensor(), Probe::createAsBatterySensorForIndex(0)};
    for (qint64 kind = Probe::DiskCapacity; kind <= Probe::DiskUsed; ++kind)
        probes.append(Probe::createAsStorageSensorForPath(QStringLiteral("/"), kind));
    for (qint64 kind = Probe::MemoryFree; kind <= Probe::MemorySwapUsed; ++kind)
        probes.append(Probe::createAsMemorySensorOfType(kind));
    for (qint64 kind = Probe::NetOutPackages; kind <= Probe::NetInBytesTotal; ++kind)
        probes.append(Probe::createAsNetworkInterfaceSensorWithType(kind, QStringLiteral("lo"), QStringLiteral("lo")));
    for (auto _ : state) {
        for (const auto& probe : probes)
            benchmark::DoNotOptimize(probe->rawValue());
    }
}
BENCHMARK(EveryProbeKindOneRead)->MeasureProcessCPUTime();

} // namespace

int main(int argc, char** argv)
{
    return bench::runWithCoreApplication(argc, argv);
}
