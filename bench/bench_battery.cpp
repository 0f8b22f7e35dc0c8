// A battery readout (the battery window's values) and one tick of the battery sensors and probe, over a
// charge-based battery and a mains adapter in a captured power_supply tree. "file_opens" counts the files
// one readout opens.

#include "bench/BenchSupport.h"
#include "platform/foundation/HostRoot.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVBatteryInfo.h"
#include "sensors/TEVBatterySensor.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

class PowerSupplyTree {
public:
    PowerSupplyTree()
    {
        const QList<QPair<QString, QByteArray>> files = {
            {"AC/type", "Mains"},           {"AC/online", "1"},
            {"BAT0/type", "Battery"},       {"BAT0/present", "1"},
            {"BAT0/status", "Charging"},    {"BAT0/voltage_now", "12345678"},
            {"BAT0/voltage_min_design", "11400000"}, {"BAT0/current_now", "1500000"},
            {"BAT0/charge_full", "5480000"}, {"BAT0/charge_full_design", "6100000"},
            {"BAT0/charge_now", "4380400"}, {"BAT0/cycle_count", "214"},
            {"BAT0/manufacturer", "SMP"},   {"BAT0/model_name", "bq20z451"},
            {"BAT0/serial_number", "10524"}, {"BAT0/temp", "299"},
            {"BAT0/manufacture_year", "2017"}, {"BAT0/manufacture_month", "3"},
            {"BAT0/manufacture_day", "15"}};
        for (const auto& [path, text] : files) {
            const QString file = folder() + path;
            QDir().mkpath(file.section('/', 0, -2));
            QFile out(file);
            if (out.open(QIODevice::WriteOnly))
                out.write(text + "\n");
        }
        platform::HostRoot::setCurrent(std::make_shared<platform::HostRoot>(dir_.path()));
    }
    ~PowerSupplyTree() { platform::HostRoot::setCurrent(nullptr); }
    QString folder() const { return dir_.path() + "/sys/class/power_supply/"; }

private:
    QTemporaryDir dir_;
};

// Files opened under the supply folders while `work` runs.
template <typename Work>
int countOpens(const PowerSupplyTree& tree, Work work)
{
    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (const char* supply : {"AC", "BAT0"})
        inotify_add_watch(watcher, QFile::encodeName(tree.folder() + supply).constData(), IN_OPEN);
    work();
    int opens = 0;
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = read(watcher, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n; at += ssize_t(sizeof(inotify_event) + reinterpret_cast<inotify_event*>(buffer + at)->len))
            opens += reinterpret_cast<inotify_event*>(buffer + at)->len > 0 ? 1 : 0;
    }
    close(watcher);
    return opens;
}

void BatteryReadout(benchmark::State& state)
{
    PowerSupplyTree tree;
    const auto batteries = TEVBatteryInfo::allBatteries();
    if (batteries.isEmpty()) {
        state.SkipWithError("no battery");
        return;
    }
    const auto battery = batteries.front();
    state.counters["file_opens"] = countOpens(tree, [&] { benchmark::DoNotOptimize(battery->currentReadouts()); });
    for (auto _ : state)
        benchmark::DoNotOptimize(battery->currentReadouts());
}
BENCHMARK(BatteryReadout);

void BatterySensorsAndProbeOneTick(benchmark::State& state)
{
    PowerSupplyTree tree;
    TEVSensorList sensors = TEVBatterySensor::allSensors();
    sensors.append(TEVArtificialSensor::createAsBatterySensorForIndex(0));
    const auto tick = [&] {
        for (const auto& sensor : sensors)
            benchmark::DoNotOptimize(sensor->rawValue());
    };
    state.counters["file_opens"] = countOpens(tree, tick);
    for (auto _ : state)
        tick();
}
BENCHMARK(BatterySensorsAndProbeOneTick);

} // namespace

int main(int argc, char** argv)
{
    return bench::runWithCoreApplication(argc, argv);
}
