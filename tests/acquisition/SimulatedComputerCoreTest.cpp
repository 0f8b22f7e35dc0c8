// The acquisition core on every simulated computer: the keyed raw values cover every registered sensor,
// the machine, SMBIOS and drive descriptions are those of the computer, and a few long-term ticks fill
// every sensor's history.

#include "acquisition/TEVDataAcquisitionCore.h"
#include "platform/foundation/HostRoot.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/registry/IORegistry.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVBatteryInfo.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/acquisition/AcquisitionTestSupport.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <filesystem>

namespace {

struct Computer {
    const char* folder;
    const char* serial; // null: the fallback serial of a computer without one
    bool hasSmbios;
    int drives;
    int minimumSensors;
};

const Computer computers[] = {
    {"portable", "C02M51K3FH00", true, 1, 20},
    {"tower", "F5KN1R4JF9VM", true, 2, 20},
    {"server", "F5KZT04RP7QM", true, 4, 5},
    {"vm", nullptr, false, 1, 0},
};

class SimulatedComputerCore : public ::testing::TestWithParam<Computer> {
protected:
    void SetUp() override
    {
        const auto loaded = platform::SimulatedComputer::load(
            kelvaro::test::sourcePath(QStringLiteral("fixtures/computers/") + QLatin1String(GetParam().folder)));
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
        TEVSensorClassLoader::loadAll();
    }
    void TearDown() override { platform::SimulatedComputer::setCurrent(nullptr); }
};

QSet<QString> identifiers(const TEVSensorList& sensors)
{
    QSet<QString> result;
    for (const auto& sensor : sensors)
        result.insert(sensor->uniqueIdentifier());
    return result;
}

} // namespace

TEST_P(SimulatedComputerCore, AnswersTheComputersSensorsMachineAndDrives)
{
    const Computer& computer = GetParam();
    auto sources = TEVDataAcquisitionCore::Sources::local();
    // The shared instance is collected once per process; each computer needs its own.
    sources.machineInfo = std::make_shared<const TEVMachineInfo>(*platform::HostRoot::current(),
                                                                 platform::IORegistry::current());
    TEVDataAcquisitionCore core(sources);

    const QVariantMap raw = core.currentRawValues();
    const QStringList keys = raw.keys();
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()), identifiers(TEVSensor::allSensors()));
    EXPECT_GE(raw.size(), computer.minimumSensors);
    for (auto it = raw.cbegin(); it != raw.cend(); ++it)
        EXPECT_EQ(platform::values::kindOf(it.value()), platform::values::Kind::Signed) << it.key().toStdString();

    if (computer.serial)
        EXPECT_EQ(core.machineInfo()->systemSerialNumber(), QLatin1String(computer.serial));
    else
        EXPECT_TRUE(core.machineInfo()->systemSerialNumber().startsWith(QLatin1String("ZZZNOSERIAL")));
    const auto smbios = core.systemManagementDescription();
    EXPECT_EQ(smbios.has_value() && !smbios->isEmpty(), computer.hasSmbios);
    EXPECT_EQ(core.blockStorageDeviceDescriptions().size(), computer.drives);
    EXPECT_EQ(core.completeListOfSensorDescriptions().size(), raw.size());

    if (!raw.isEmpty()) {
        const QString first = raw.firstKey();
        core.disableLocalAccess(true, first);
        EXPECT_EQ(platform::values::toSigned(core.currentRawValues().value(first)), -1);
        core.disableLocalAccess(false, first);
    }

    acqtest::HistoryFolder folder;
    core.setUserInfo(QStringLiteral("Kelvaro"));
    core.run();
    for (int tick = 0; tick < 3; ++tick)
        acqtest::advance(60);
    EXPECT_EQ(core.sensorHistoryUpdateCount(), 4u);
    EXPECT_EQ(core.historyBuffers().size(), raw.size());
    EXPECT_TRUE(core.saveLongTermHistoryBuffers());
    const auto saved = TEVSensorHistoryFile(folder.path()).read();
    EXPECT_EQ(saved.entries.value(core.machineInfo()->systemSerialNumber()).size(), raw.size());
}

INSTANTIATE_TEST_SUITE_P(Computers, SimulatedComputerCore, ::testing::ValuesIn(computers),
                         [](const auto& info) { return std::string(info.param.folder); });

namespace {

// Links keep their stored (relative) text, as sysfs has them.
void copyTree(const QString& from, const QString& to)
{
    std::filesystem::copy(from.toStdString(), to.toStdString(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
}

} // namespace

TEST(SimulatedComputerCoreRescan, ADriveThatDisappearsLosesItsSensor)
{
    QTemporaryDir dir;
    copyTree(kelvaro::test::sourcePath(QStringLiteral("fixtures/computers/tower")), dir.path() + QStringLiteral("/tower"));
    const auto before = platform::SimulatedComputer::load(dir.path() + QStringLiteral("/tower"));
    ASSERT_TRUE(before.computer) << before.error.toStdString();
    platform::SimulatedComputer::setCurrent(before.computer);
    TEVSensorClassLoader::loadAll();
    auto sources = TEVDataAcquisitionCore::Sources::local();
    sources.machineInfo = std::make_shared<const TEVMachineInfo>(*platform::HostRoot::current(),
                                                                 platform::IORegistry::current());
    TEVDataAcquisitionCore core(sources);
    const QString drive = QStringLiteral("smart.WDC WD5000AAKS-00TMA0.WD-WCAPW0493929");
    ASSERT_TRUE(core.currentRawValues().contains(drive));

    // The second drive is unplugged: gone from /sys/block, so from the registry of the reloaded computer.
    ASSERT_TRUE(QFile::remove(dir.path() + QStringLiteral("/tower/root/sys/block/sdb"))); // a link, as in sysfs
    const auto after = platform::SimulatedComputer::load(dir.path() + QStringLiteral("/tower"));
    ASSERT_TRUE(after.computer) << after.error.toStdString();
    platform::SimulatedComputer::setCurrent(after.computer);
    core.rescanForSensors();
    const QVariantMap raw = core.currentRawValues();
    EXPECT_FALSE(raw.contains(drive));
    EXPECT_TRUE(raw.contains(QStringLiteral("smart.SAMSUNG HD501LJ.S0MUJ1NQ110060")));
    platform::SimulatedComputer::setCurrent(nullptr);
}

namespace {

// A computer with nothing but a mains adapter and the battery bays the test fills.
struct BatteryBays {
    QTemporaryDir dir;
    QString supplies = dir.path() + QStringLiteral("/root/sys/class/power_supply/");

    BatteryBays()
    {
        kelvaro::test::writeFile(supplies + QStringLiteral("AC/type"), "Mains\n");
        kelvaro::test::writeFile(supplies + QStringLiteral("AC/online"), "0\n");
        const auto loaded = platform::SimulatedComputer::fromDictionary({}, dir.path());
        EXPECT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
    }
    ~BatteryBays() { platform::SimulatedComputer::setCurrent(nullptr); }

    // A discharging pack of `volts` and 1 A, known to the kernel by `name`.
    void insert(const QString& name, int volts, const QByteArray& serial)
    {
        const QList<QPair<QString, QByteArray>> files = {
            {"type", "Battery"}, {"present", "1"}, {"status", "Discharging"},
            {"voltage_now", QByteArray::number(volts * 1000000)}, {"current_now", "1000000"},
            {"charge_full", "5000000"}, {"charge_now", "2500000"}, {"charge_full_design", "6000000"},
            {"model_name", "bq20z451"}, {"serial_number", serial}};
        for (const auto& [file, text] : files)
            kelvaro::test::writeFile(supplies + name + QLatin1Char('/') + file, text + '\n');
    }
    // The bay stays, as ACPI keeps it, and says the pack is gone.
    void pull(const QString& name) { kelvaro::test::writeFile(supplies + name + QStringLiteral("/present"), "0\n"); }
    // The supply itself goes, as a USB pack's does.
    void unplug(const QString& name) { QDir(supplies + name).removeRecursively(); }
};

QSet<QString> batteryIdentifiers(const QStringList& identifiers)
{
    QSet<QString> result;
    for (const QString& identifier : identifiers) {
        if (identifier.startsWith(QLatin1String("battery.")))
            result.insert(identifier);
    }
    return result;
}

QSet<QString> sensorsOfPacks(std::initializer_list<int> numbers)
{
    QSet<QString> result;
    for (const int n : numbers) {
        for (const char* kind : {"voltage", "amperage", "totalCapacity", "capacity"})
            result.insert(QStringLiteral("battery.%1.%2").arg(n).arg(QLatin1String(kind)));
    }
    return result;
}

} // namespace

TEST(SimulatedComputerCoreRescan, BatteryPacksKeepTheirNumbersAsOthersComeAndGo)
{
    BatteryBays bays;
    bays.insert(QStringLiteral("BAT0"), 12, "100");
    TEVSensorClassLoader::loadAll();
    const auto power = TEVArtificialSensor::createAsPowerSensorForVoltageSensorNamed(
        QStringLiteral("battery.1.voltage"), QStringLiteral("Battery 2 Voltage"), QStringLiteral("battery.1.amperage"),
        QStringLiteral("Battery 2 Current"));
    ASSERT_TRUE(TEVArtificialSensor::addArtificialSensor(power));
    auto sources = TEVDataAcquisitionCore::Sources::local();
    sources.machineInfo = std::make_shared<const TEVMachineInfo>(*platform::HostRoot::current(),
                                                                 platform::IORegistry::current());
    sources.batterySignature = nullptr; // rescans only when asked
    TEVDataAcquisitionCore core(sources);
    const auto volts = [](int v) { return qint64(v) * 65536; };

    struct Step {
        const char* what;
        std::function<void()> change;
        bool rescan;
        QSet<QString> sensors;
        QMap<QString, qint64> raw; // -1: no value
        quint64 batteries;
        double firstBatteryVolts; // readouts of battery unit 0
    };
    const Step steps[] = {
        {"one pack", [] {}, false, sensorsOfPacks({0}), {{"battery.0.voltage", volts(12)}}, 1, 12},
        {"a second pack, after a rescan", [&] { bays.insert(QStringLiteral("BAT1"), 11, "200"); }, true,
         sensorsOfPacks({0, 1}),
         {{"battery.0.voltage", volts(12)}, {"battery.1.voltage", volts(11)}, {"battery.1.amperage", -65536},
          {power->uniqueIdentifier(), -volts(11)}},
         2, 12},
        {"the first pack pulled, before a rescan", [&] { bays.pull(QStringLiteral("BAT0")); }, false,
         sensorsOfPacks({0, 1}),
         {{"battery.0.voltage", -1}, {"battery.0.amperage", -1}, {"battery.0.capacity", -1},
          {"battery.0.totalCapacity", -1}, {"battery.1.voltage", volts(11)}},
         1, 11},
        {"the first pack pulled, after a rescan", [] {}, true, sensorsOfPacks({1}),
         {{"battery.1.voltage", volts(11)}, {power->uniqueIdentifier(), -volts(11)}}, 1, 11},
        {"a new pack takes the free number", [&] { bays.insert(QStringLiteral("BAT2"), 10, "300"); }, true,
         sensorsOfPacks({0, 1}), {{"battery.0.voltage", volts(10)}, {"battery.1.voltage", volts(11)}}, 2, 10},
        {"the second pack unplugged", [&] { bays.unplug(QStringLiteral("BAT1")); }, true, sensorsOfPacks({0}),
         {{"battery.0.voltage", volts(10)}, {power->uniqueIdentifier(), -1}}, 1, 10},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        if (step.rescan)
            core.rescanForSensors();
        const QVariantMap raw = core.currentRawValues();
        EXPECT_EQ(batteryIdentifiers(raw.keys()), step.sensors);
        for (auto it = step.raw.cbegin(); it != step.raw.cend(); ++it)
            EXPECT_EQ(platform::values::toSigned(raw.value(it.key())), it.value()) << it.key().toStdString();
        EXPECT_EQ(core.numberOfAvailableBatteryUnits(), step.batteries);
        const auto readouts = core.batteryReadoutsAtIndex(0);
        ASSERT_TRUE(readouts);
        EXPECT_EQ(platform::values::toReal(readouts->value(QStringLiteral("Voltage"))), step.firstBatteryVolts);
        EXPECT_EQ(core.batteryReadoutsAtIndex(step.batteries), std::nullopt);
    }
    TEVArtificialSensor::removeArtificialSensor(power.get());
}

// A pack put in while another runs takes the next number; at the next start, where the registry lists it
// first, it must keep that number, or stored gauges and alerts would watch the other pack.
TEST(SimulatedComputerCoreRescan, BatteryPacksKeepTheirNumbersAcrossARestart)
{
    QTemporaryDir store;
    const QString numbers = store.filePath(QStringLiteral("Kelvaro/BatteryNumbers.plist"));
    BatteryBays bays;
    TEVSensorClassLoader::loadAll();
    const auto start = [&] {
        auto sources = TEVDataAcquisitionCore::Sources::local();
        sources.machineInfo = std::make_shared<const TEVMachineInfo>(*platform::HostRoot::current(),
                                                                     platform::IORegistry::current());
        sources.batterySignature = nullptr;
        return std::make_unique<TEVDataAcquisitionCore>(sources);
    };
    const auto voltsOf = [](TEVDataAcquisitionCore& core) {
        QMap<QString, qint64> volts;
        const QVariantMap raw = core.currentRawValues();
        for (auto it = raw.cbegin(); it != raw.cend(); ++it)
            if (it.key().endsWith(QLatin1String(".voltage")))
                volts.insert(it.key(), platform::values::toSigned(it.value()).value_or(-1) / 65536);
        return volts;
    };
    using Volts = QMap<QString, qint64>;

    TEVBatteryInfo::setNumberStorePath(numbers);
    bays.insert(QStringLiteral("BAT1"), 11, "200");
    auto core = start();
    EXPECT_EQ(voltsOf(*core), (Volts{{"battery.0.voltage", 11}})) << "a single pack is Battery 1";
    bays.insert(QStringLiteral("BAT0"), 12, "100");
    core->rescanForSensors();
    const Volts running{{"battery.0.voltage", 11}, {"battery.1.voltage", 12}};
    EXPECT_EQ(voltsOf(*core), running) << "the new pack takes the free number";
    core.reset();

    struct Restart {
        const char* what;
        QString store;
        Volts volts;
    } restarts[] = {
        {"the next start, registry order BAT0, BAT1", numbers, running},
        {"and the one after", numbers, running},
        {"a start on a computer never seen, numbered in registry order", store.filePath(QStringLiteral("other.plist")),
         Volts{{"battery.0.voltage", 12}, {"battery.1.voltage", 11}}},
    };
    for (const Restart& restart : restarts) {
        SCOPED_TRACE(restart.what);
        TEVBatteryInfo::setNumberStorePath(restart.store); // as a new process
        core = start();
        EXPECT_EQ(voltsOf(*core), restart.volts);
        core.reset();
    }
    TEVBatteryInfo::setNumberStorePath({});
}

// The packs' supplies are watched: one that comes or goes, or a bay whose pack does, changes the sensors at
// the next reading without a rescan being asked for; readings with nothing changed keep the sensor objects.
TEST(SimulatedComputerCoreRescan, PacksThatComeAndGoChangeTheSensorsAtTheNextReading)
{
    BatteryBays bays;
    bays.insert(QStringLiteral("BAT0"), 12, "100");
    TEVSensorClassLoader::loadAll();
    auto sources = TEVDataAcquisitionCore::Sources::local();
    sources.machineInfo = std::make_shared<const TEVMachineInfo>(*platform::HostRoot::current(),
                                                                 platform::IORegistry::current());
    TEVDataAcquisitionCore core(sources);
    const struct {
        const char* what;
        std::function<void()> change;
        QSet<QString> sensors;
    } steps[] = {
        {"one pack", [] {}, sensorsOfPacks({0})},
        {"a second supply appears", [&] { bays.insert(QStringLiteral("BAT1"), 11, "200"); }, sensorsOfPacks({0, 1})},
        {"the first pack leaves its bay", [&] { bays.pull(QStringLiteral("BAT0")); }, sensorsOfPacks({1})},
        {"a pack goes into that bay", [&] { bays.insert(QStringLiteral("BAT0"), 10, "300"); }, sensorsOfPacks({0, 1})},
        {"the second supply goes", [&] { bays.unplug(QStringLiteral("BAT1")); }, sensorsOfPacks({0})},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        EXPECT_EQ(batteryIdentifiers(core.currentRawValues().keys()), step.sensors);
        const auto sensor = core.sensorDictionary().value(QStringLiteral("battery.0.voltage"));
        core.currentRawValues();
        EXPECT_EQ(core.sensorDictionary().value(QStringLiteral("battery.0.voltage")), sensor);
    }
}
