// SMC sensors of a real portable's key table (MacBookPro5,1, 295 keys): one full enumeration of the four SMC
// sensor classes, and one read of every sensor, with the 1 s value cache cold (a manual clock moved past
// it before each pass) and warm. "AllKeysDescribed" makes every T/V/I/P key known, the upper bound of the
// known-key tables; "KnownKeys" uses the tables themselves for that model. "readAllLinux" reads through the
// Linux backend over the applesmc attributes (in memory), counting the reads that reach the SMC itself.

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "platform/hardware/EmulatedSmcConnection.h"
#include "platform/hardware/LinuxSmcConnection.h"
#include "platform/registry/FixtureIORegistry.h"
#include "sensors/TEVKnownSMCKeys.h"
#include "sensors/TEVSMCElectricSensor.h"
#include "sensors/TEVSMCFanSensor.h"
#include "sensors/TEVSMCLightSensor.h"
#include "sensors/TEVSMCTemperatureSensor.h"

#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
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

std::unique_ptr<SmcConnection> dumpTable()
{
    QFile file(dumpPath());
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(dumpPath()));
        std::exit(1);
    }
    const auto section = EmulatedSmcConnection::sectionFromDump(file.readAll());
    return EmulatedSmcConnection::fromSection(section.value_or(QVariantMap())).connection;
}

// The applesmc driver's attributes over the dump's key table: one selected index, text attributes, raw data.
class DumpApplesmc final : public SmcSysfs {
public:
    explicit DumpApplesmc(std::unique_ptr<SmcConnection> table) : table_(std::move(table)) { table_->open(); }

    std::optional<QByteArray> access(const QString& attribute, const std::optional<QByteArray>& write) override
    {
        if (write) {
            selected_ = write->toUInt();
            return write;
        }
        if (attribute == QLatin1String("key_count"))
            return QByteArray::number(table_->keyCount().value.value_or(0)) + '\n';
        if (attribute == QLatin1String("key_at_index"))
            return QByteArray::number(selected_) + '\n';
        const auto key = table_->keyAtIndex(selected_);
        const auto info = key.ok() ? table_->keyInfo(*key.value) : SmcAnswer<SmcKeyInfo>::failure(smcresult::Error);
        if (!info.ok()) {
            errno = EIO;
            return std::nullopt;
        }
        if (attribute == QLatin1String("key_at_index_name"))
            return SmcConnection::fourCharText(*key.value).toLatin1() + '\n';
        if (attribute == QLatin1String("key_at_index_type"))
            return SmcConnection::fourCharText(info.value->type).toLatin1() + '\n';
        if (attribute == QLatin1String("key_at_index_data_length"))
            return QByteArray::number(info.value->size) + '\n';
        ++dataReads;
        QByteArray bytes = table_->readKey(*key.value).value.value_or(QByteArray());
        bytes.resize(qsizetype(info.value->size), '\0');
        return bytes;
    }

    qint64 dataReads = 0; // the reads that ask the SMC itself, the slow part on real hardware

private:
    std::unique_ptr<SmcConnection> table_;
    quint32 selected_ = 0;
};

std::shared_ptr<TEVSystemManagementController> portable(std::unique_ptr<SmcConnection> connection = dumpTable())
{
    const QVariantMap smc{{"Class", QVariantList{values::fromString("AppleSMC"), values::fromString("IOService")}},
                          {"Properties", QVariantMap{{"smc-version", values::fromString("1.41f3")}}}};
    const auto registry = FixtureIORegistry::load({smc}).registry;
    auto controller = TEVSystemManagementController::createWithIORegistryEntry(
        TEVIORegistryEntry::serviceObjectsMatchingName("AppleSMC", registry)->at(0), std::move(connection));
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

// Reads every sensor once per iteration; a cold run lets the SMC cache expire before each one.
void readEveryTick(benchmark::State& state, ManualClock& clock, const TEVSensorList& sensors, bool cold)
{
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            clock.advanceSeconds(2);
            state.ResumeTiming();
        }
        qint64 sum = 0;
        for (const auto& sensor : sensors)
            sum += sensor->rawValue();
        benchmark::DoNotOptimize(sum);
    }
    state.counters["sensors"] = double(sensors.size());
}

void readAll(benchmark::State& state, const Lookups& lookups, bool cold)
{
    const auto clock = manualClock();
    const auto smc = portable();
    readEveryTick(state, *clock, enumerate(smc, lookups), cold);
}

void readAllLinux(benchmark::State& state, const Lookups& lookups)
{
    const auto clock = manualClock();
    const auto applesmc = std::make_shared<DumpApplesmc>(dumpTable());
    const auto smc = portable(std::make_unique<LinuxSmcConnection>(applesmc));
    const auto sensors = enumerate(smc, lookups);
    applesmc->dataReads = 0;
    readEveryTick(state, *clock, sensors, true);
    state.counters["smc_reads_per_sensor"] =
        double(applesmc->dataReads) / double(std::max<qint64>(1, state.iterations() * sensors.size()));
}

} // namespace

BENCHMARK_CAPTURE(readAllLinux, KnownKeys_Cold, knownKeys())->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(enumeration, AllKeysDescribed_Cold, allKeysDescribed(), true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(enumeration, AllKeysDescribed_Warm, allKeysDescribed(), false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(enumeration, KnownKeys_Cold, knownKeys(), true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(enumeration, KnownKeys_Warm, knownKeys(), false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readAll, AllKeysDescribed_Cold, allKeysDescribed(), true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readAll, AllKeysDescribed_Warm, allKeysDescribed(), false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readAll, KnownKeys_Cold, knownKeys(), true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readAll, KnownKeys_Warm, knownKeys(), false)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
