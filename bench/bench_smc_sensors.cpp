// SMC sensors of a real portable's key table (MacBookPro5,1, 295 keys): one full enumeration of the four SMC
// sensor classes, and one read of every sensor, with the 1 s value cache cold (a manual clock moved past
// it before each pass) and warm. "AllKeysDescribed" makes every T/V/I/P key known, the upper bound of the
// known-key tables; "KnownKeys" uses the tables themselves for that model.

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "platform/hardware/EmulatedSmcConnection.h"
#include "platform/registry/FixtureIORegistry.h"
#include "sensors/TEVKnownSMCKeys.h"
#include "sensors/TEVSMCElectricSensor.h"
#include "sensors/TEVSMCFanSensor.h"
#include "sensors/TEVSMCLightSensor.h"
#include "sensors/TEVSMCTemperatureSensor.h"

#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

using namespace platform;

namespace {

using Lookup = smcsensor::DescriptionLookup;

// The dump lives in the source tree beside this folder.
QString dumpPath()
{
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../tests/data/smc/MacBookPro5,1.txt");
}

// Unreadable keys log every cold read; the bench measures reads, not syslog.
class DiscardingLog final : public LogSink {
public:
    void write(const QString&) override {}
};

std::shared_ptr<ManualClock> manualClock()
{
    static const auto clock = [] {
        auto c = std::make_shared<ManualClock>();
        Clock::setShared(c);
        setLogSink(std::make_shared<DiscardingLog>());
        return c;
    }();
    return clock;
}

std::shared_ptr<TEVSystemManagementController> portable()
{
    QFile file(dumpPath());
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(dumpPath()));
        std::exit(1);
    }
    const auto section = EmulatedSmcConnection::sectionFromDump(file.readAll());
    auto loaded = EmulatedSmcConnection::fromSection(section.value_or(QVariantMap()));
    const QVariantMap smc{{"Class", QVariantList{values::fromString("AppleSMC"), values::fromString("IOService")}},
                          {"Properties", QVariantMap{{"smc-version", values::fromString("1.41f3")}}}};
    const auto registry = FixtureIORegistry::load({smc}).registry;
    auto controller = TEVSystemManagementController::createWithIORegistryEntry(
        TEVIORegistryEntry::serviceObjectsMatchingName("AppleSMC", registry)->at(0), std::move(loaded.connection));
    if (!controller) {
        std::fprintf(stderr, "no controller for the dump\n");
        std::exit(1);
    }
    return controller;
}

std::optional<QVariantMap> describeAny(const QString& key, qint64 quantity)
{
    return QVariantMap{{"SMCKey", key}, {"UniqueID", key}, {"LocationID", QStringLiteral("SMC BENCH")},
                       {"Quantity", values::fromSigned(quantity)}};
}

struct Lookups {
    Lookup temperature;
    Lookup electric;
};

Lookups allKeysDescribed()
{
    return {[](const QString& key) { return describeAny(key, 1); },
            [](const QString& key) { return describeAny(key, 2); }};
}

Lookups knownKeys()
{
    const TEVKnownSMCKeys::Model model{QStringLiteral("MacBookPro5,1"), 1};
    return {[model](const QString& key) { return TEVKnownSMCKeys::temperatureDescription(key, model); },
            [model](const QString& key) { return TEVKnownSMCKeys::electricDescription(key, model); }};
}

TEVSensorList enumerate(const std::shared_ptr<TEVSystemManagementController>& smc, const Lookups& lookups)
{
    TEVSensorList sensors = TEVSMCFanSensor::allSensors(smc);
    sensors.append(TEVSMCTemperatureSensor::allSensors(smc, lookups.temperature));
    sensors.append(TEVSMCElectricSensor::allSensors(smc, lookups.electric));
    sensors.append(TEVSMCLightSensor::allSensors(smc));
    return sensors;
}

void enumeration(benchmark::State& state, const Lookups& lookups, bool cold)
{
    const auto clock = manualClock();
    const auto smc = portable();
    qsizetype count = 0;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            clock->advanceSeconds(2);
            state.ResumeTiming();
        }
        const auto sensors = enumerate(smc, lookups);
        count = sensors.size();
        benchmark::DoNotOptimize(count);
    }
    state.counters["sensors"] = double(count);
}

void readAll(benchmark::State& state, const Lookups& lookups, bool cold)
{
    const auto clock = manualClock();
    const auto smc = portable();
    const auto sensors = enumerate(smc, lookups);
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            clock->advanceSeconds(2);
            state.ResumeTiming();
        }
        qint64 sum = 0;
        for (const auto& sensor : sensors)
            sum += sensor->rawValue();
        benchmark::DoNotOptimize(sum);
    }
    state.counters["sensors"] = double(sensors.size());
}

} // namespace

BENCHMARK_CAPTURE(enumeration, AllKeysDescribed_Cold, allKeysDescribed(), true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(enumeration, AllKeysDescribed_Warm, allKeysDescribed(), false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(enumeration, KnownKeys_Cold, knownKeys(), true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(enumeration, KnownKeys_Warm, knownKeys(), false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readAll, AllKeysDescribed_Cold, allKeysDescribed(), true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readAll, AllKeysDescribed_Warm, allKeysDescribed(), false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readAll, KnownKeys_Cold, knownKeys(), true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readAll, KnownKeys_Warm, knownKeys(), false)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
