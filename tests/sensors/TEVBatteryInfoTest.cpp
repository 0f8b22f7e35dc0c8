#include "platform/foundation/HostRoot.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/registry/FixtureIORegistry.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVBatteryInfo.h"
#include "sensors/TEVBatterySensor.h"
#include "sensors/TEVCaseLockSensor.h"
#include "sensors/TEVSensorValueConverter.h"
#include "sensors/TEVSmartBatteryInfo.h"
#include "sensors/TEVSmartBatteryTemperatureSensor.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

#include <sys/inotify.h>
#include <unistd.h>

namespace values = platform::values;

namespace {

QVariantList numbers(std::initializer_list<qint64> list)
{
    QVariantList result;
    for (const qint64 n : list)
        result.append(values::fromSigned(n));
    return result;
}

// The ten properties a smart battery needs, overridden or removed (invalid value) by `changes`.
QVariantMap smartBattery(const QVariantMap& changes = {})
{
    QVariantMap p{{"LegacyBatteryInfo", QVariantMap{{"Flags", values::fromUnsigned(0x4)}}},
                  {"Voltage", values::fromSigned(12345)},
                  {"Amperage", values::fromSigned(-1500)},
                  {"CurrentCapacity", values::fromSigned(4380)},
                  {"FirmwareSerialNumber", values::fromSigned(10524)},
                  {"DeviceName", "bq20z451"},
                  {"ManufactureDate", values::fromSigned(0x4A6F)},
                  {"MaxCapacity", values::fromSigned(5480)},
                  {"DesignCapacity", values::fromSigned(6100)},
                  {"CycleCount", values::fromSigned(214)},
                  {"Temperature", values::fromSigned(3031)},
                  {"CellVoltage", numbers({4012, 4010, 3990})}};
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        if (it.value().isValid())
            p.insert(it.key(), it.value());
        else
            p.remove(it.key());
    }
    return p;
}

QVariantMap entry(const QString& className, const QVariantMap& properties)
{
    return {{"Class", QVariantList{className, "IOService"}}, {"Properties", properties}};
}

TEVIORegistryEntry::Registry registryOf(const QVariantList& entries)
{
    const auto loaded = platform::FixtureIORegistry::load(entries);
    EXPECT_TRUE(loaded.registry) << loaded.error.toStdString();
    return loaded.registry;
}

std::shared_ptr<TEVSmartBatteryInfo> battery(const QVariantMap& changes = {})
{
    const auto all = TEVSmartBatteryInfo::allBatteries(registryOf({entry("AppleSmartBattery", smartBattery(changes))}));
    EXPECT_EQ(all.size(), 1);
    return all.isEmpty() ? nullptr : std::static_pointer_cast<TEVSmartBatteryInfo>(all.first());
}

struct AbsoluteCurrentsReset : ::testing::Test {
    void TearDown() override { TEVBatteryInfo::setEnforcesAbsoluteBatteryCurrents(false); }
};

} // namespace

TEST(TEVSmartBatteryInfo, ListsOnlyBatteriesWithAllTenProperties)
{
    EXPECT_TRUE(TEVSmartBatteryInfo::allBatteries(registryOf({})).isEmpty());
    const auto registry = registryOf({entry("AppleSmartBattery", smartBattery({{"CycleCount", QVariant()}})),
                                      entry("AppleSmartBattery", smartBattery({{"DeviceName", "second"}})),
                                      entry("IOPMPowerSource", smartBattery())});
    const auto all = TEVBatteryInfo::allBatteries(registry);
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0]->batteryDeviceName(), "second");
}

TEST_F(AbsoluteCurrentsReset, ReadoutsConvertUnitsAndFollowTheAbsoluteCurrentSwitch)
{
    const auto b = battery();
    QVariantMap readouts = b->currentReadouts();
    EXPECT_EQ(readouts.value("Voltage"), values::fromReal(12.345));
    EXPECT_EQ(readouts.value("Amperage"), values::fromReal(-1.5));
    EXPECT_EQ(readouts.value("TotalCapacity"), values::fromReal(5480));
    EXPECT_EQ(readouts.value("CurrentCapacity"), values::fromReal(4380));
    EXPECT_EQ(readouts.value("MaximumCapacity"), values::fromReal(6100));
    EXPECT_EQ(readouts.value("ChargeCycles"), values::fromUnsigned(214));
    EXPECT_EQ(readouts.value("BatteryStatus"), values::fromUnsigned(4));
    EXPECT_EQ(readouts.value("HasSmartInfo"), values::fromBool(true));
    EXPECT_EQ(readouts.value("Manufacturer"), "");
    EXPECT_EQ(readouts.value("BatteryDevice"), "bq20z451");
    EXPECT_EQ(readouts.value("SerialNumber"), "10524");
    EXPECT_NEAR(readouts.value("BatteryTemperature").toDouble(), 29.94, 1e-9);
    EXPECT_EQ(readouts.value("CellVoltages"),
              QVariant(QVariantList{values::fromReal(4.012), values::fromReal(4.010), values::fromReal(3.990)}));
    EXPECT_EQ(readouts.value("ManufacturingDate").toDateTime().toLocalTime().date(), QDate(2017, 3, 15));

    TEVBatteryInfo::setEnforcesAbsoluteBatteryCurrents(true);
    EXPECT_EQ(b->amperage(), 1.5);
}

TEST(TEVSmartBatteryInfo, EdgeCasesOfTheRegistryValues)
{
    const auto noTemperature = battery({{"Temperature", QVariant()}});
    EXPECT_EQ(noTemperature->temperature(), 0.0);
    EXPECT_FALSE(noTemperature->currentReadouts().contains("BatteryTemperature"));

    const auto gap = battery({{"CellVoltage", numbers({4012, 4010, 0, 3990})}});
    EXPECT_EQ(gap->numberOfCells(), 2u);
    EXPECT_DOUBLE_EQ(gap->cellVoltageAtIndex(3), 3.99);
    EXPECT_EQ(gap->cellVoltageAtIndex(4), 0.0);
    EXPECT_EQ(gap->currentReadouts().value("CellVoltages").toList().size(), 2);
    EXPECT_FALSE(battery({{"CellVoltage", QVariant()}})->currentReadouts().contains("CellVoltages"));

    EXPECT_EQ(battery({{"BatterySerialNumber", ""}})->presentedSerialNumber(), "10524");
    EXPECT_EQ(battery({{"BatterySerialNumber", "C0163"}})->presentedSerialNumber(), "10524 (C0163)");
    // Negative numbers clamp to 0 rather than wrapping to 2^64 - n.
    EXPECT_EQ(battery({{"FirmwareSerialNumber", values::fromSigned(-1)}})->serialNumber(), "0");
    EXPECT_EQ(battery({{"CycleCount", values::fromSigned(-3)}})->chargeCycles(), 0u);
    EXPECT_EQ(battery({{"LegacyBatteryInfo", QVariantMap{{"Flags", "7"}}}})->batteryFlags(), 0u);
}

TEST(TEVSmartBatteryInfo, InvalidManufactureDatesGiveNoDate)
{
    const auto word = [](int year, int month, int day) { return qint64((year - 1980) << 9 | month << 5 | day); };
    struct Row { qint64 word; std::optional<QDate> date; };
    const Row rows[] = {
        {0x4A6F, QDate(2017, 3, 15)},
        {word(2016, 2, 29), QDate(2016, 2, 29)},
        {word(2017, 2, 29), std::nullopt}, // no leap day: not 1 March
        {word(2017, 4, 31), std::nullopt},
        {word(2017, 0, 10), std::nullopt},
        {word(2017, 13, 10), std::nullopt},
        {word(2017, 5, 0), std::nullopt},
        {0, std::nullopt},
        {0x10000, std::nullopt},
    };
    for (const Row& row : rows) {
        const auto b = battery({{"ManufactureDate", values::fromSigned(row.word)}});
        const auto date = b->manufacturingDate();
        EXPECT_EQ(date.has_value(), row.date.has_value()) << row.word;
        if (date && row.date) {
            EXPECT_EQ(date->toLocalTime().date(), *row.date);
        }
        EXPECT_EQ(b->currentReadouts().contains("ManufacturingDate"), row.date.has_value());
    }
}

TEST(TEVBatteryInfo, StatusFlagsGiveKeysAndTextLines)
{
    const auto b = battery({{"LegacyBatteryInfo", QVariantMap{{"Flags", values::fromUnsigned(0x207)}}}});
    const QVariantMap status = b->batteryStatus();
    EXPECT_EQ(status.size(), 11);
    EXPECT_EQ(status.value("Clamshell Closed"), values::fromBool(true));
    EXPECT_EQ(status.value("Depleted"), values::fromBool(false));
    EXPECT_TRUE(b->batteryStatusForKey(9));
    EXPECT_FALSE(b->batteryStatusForKey(11));
    EXPECT_FALSE(b->batteryStatusForKey(-1));
    EXPECT_EQ(TEVBatteryInfo::localizedBatteryStatusDescriptionForBatteryFlags(0x207),
              QString::fromUtf8("• AC adapter connected\n• charging\n• installed\n• lid is closed\n"));
    EXPECT_EQ(TEVBatteryInfo::localizedBatteryStatusDescriptionForBatteryFlags(0), "normal");
    EXPECT_EQ(TEVBatteryInfo::localizedBatteryStatusDescriptionForBatteryFlags(0x800), "normal");
}

TEST(TEVBatteryInfo, AbstractBaseLogsEachAccessorNotOverridden)
{
    const TEVBatteryInfo base(nullptr);
    EXPECT_EQ(base.totalCapacity(), 0.0);
    EXPECT_EQ(base.voltage(), -0.001);
    base.logSubclassImplementationErrorWithMethodName("");
    EXPECT_EQ(kelvaro::test::log().lines().size(), 1);
    EXPECT_EQ(kelvaro::test::log().count(
                  "TEVBatteryInfo: implementation error: -totalCapacity fell back to abstract class because not overridden."),
              1);
}

TEST_F(AbsoluteCurrentsReset, BatterySensorsPerBatteryAndCell)
{
    const auto registry = registryOf({entry("AppleSmartBattery", smartBattery())});
    const TEVSensorList sensors = TEVBatterySensor::allSensors(registry);
    QStringList identifiers;
    for (const auto& s : sensors)
        identifiers.append(s->uniqueIdentifier());
    EXPECT_EQ(identifiers, QStringList({"battery.0.voltage", "battery.0.amperage", "battery.0.totalCapacity",
                                        "battery.0.capacity", "battery.0-cell0.voltage", "battery.0-cell1.voltage",
                                        "battery.0-cell2.voltage"}));
    EXPECT_EQ(sensors[1]->locationIdentifier(), "Battery 1 Current");
    EXPECT_EQ(sensors[6]->locationIdentifier(), "Battery 1 Cell 3");
    EXPECT_EQ(sensors[0]->sensorName(), "Apple Battery");
    EXPECT_EQ(sensors[3]->quantityType(), 5);
    EXPECT_EQ(sensors[4]->quantityType(), 2);
    EXPECT_EQ(sensors[2]->unit(), "mAh");

    EXPECT_EQ(sensors[0]->rawValue(), 809041); // 12.345 V × 65536, truncated
    EXPECT_EQ(sensors[1]->rawValue(), -98304); // -1.5 A
    EXPECT_EQ(sensors[6]->rawValue(), qint64(3.99 * 65536));
    EXPECT_DOUBLE_EQ(sensors[1]->value(), -1.5);
    TEVBatteryInfo::setEnforcesAbsoluteBatteryCurrents(true);
    EXPECT_EQ(sensors[1]->rawValue(), 98304);
}

TEST(TEVBatterySensor, ReadingsOutside32BitsClampAndOtherKindsHaveNoValue)
{
    const auto b = battery({{"MaxCapacity", values::fromSigned(40000)}, {"CurrentCapacity", values::fromSigned(-40000)}});
    EXPECT_EQ(TEVBatterySensor::create(b, TEVBatterySensor::TotalCapacity, 0)->rawValue(),
              std::numeric_limits<qint32>::max());
    EXPECT_EQ(TEVBatterySensor::create(b, TEVBatterySensor::Capacity, 0)->rawValue(), std::numeric_limits<qint32>::min());

    const auto none = TEVBatterySensor::create(b, TEVBatterySensor::None, 1);
    EXPECT_EQ(none->rawValue(), -1);
    EXPECT_EQ(none->sensorTypeIdentifier(), "");
    EXPECT_EQ(none->uniqueIdentifier(), "battery.1.");
    const auto other = TEVBatterySensor::create(b, 9, 0);
    EXPECT_EQ(other->rawValue(), -1);
    EXPECT_TRUE(other->sensorTypeIdentifier().isNull());
    EXPECT_EQ(other->unit(), " ");
    EXPECT_FALSE(TEVBatterySensor::create(nullptr, 1, 0));
    EXPECT_FALSE(TEVBatterySensor::createForCellVoltage(nullptr, 0, 0));
    const auto converter = other->valueConverter();
    EXPECT_EQ(converter->functionType(), TEVSensorValueConverter::LinearFactor);
    EXPECT_EQ(converter->linearFactor(), 1.0 / 65536);
}

TEST(TEVBatterySensor, AReadingThePackDoesNotPublishHasNoValue)
{
    struct Row {
        const char* what;
        QVariantMap changes;
        qint64 kind;
        quint64 cell; // kNoCell: a whole-battery sensor
        qint64 raw;
    };
    constexpr quint64 whole = TEVBatterySensor::kNoCell;
    const Row rows[] = {
        {"voltage", {}, TEVBatterySensor::Voltage, whole, 809041},
        {"no voltage", {{"Voltage", QVariant()}}, TEVBatterySensor::Voltage, whole, -1},
        {"no current", {{"Amperage", QVariant()}}, TEVBatterySensor::Amperage, whole, -1},
        {"a current of -1 mA", {{"Amperage", values::fromSigned(-1)}}, TEVBatterySensor::Amperage, whole, -65},
        {"no full-charge capacity", {{"MaxCapacity", QVariant()}}, TEVBatterySensor::TotalCapacity, whole, -1},
        {"no remaining capacity", {{"CurrentCapacity", "full"}}, TEVBatterySensor::Capacity, whole, -1},
        {"pack not installed", {{"BatteryInstalled", values::fromBool(false)}}, TEVBatterySensor::Voltage, whole, -1},
        {"pack installed", {{"BatteryInstalled", values::fromBool(true)}}, TEVBatterySensor::Capacity, whole,
         4380 * 65536},
        {"third cell", {}, TEVBatterySensor::Voltage, 2, qint64(3.99 * 65536)},
        {"a cell no longer read", {{"CellVoltage", numbers({4012})}}, TEVBatterySensor::Voltage, 2, -1},
    };
    for (const Row& row : rows) {
        const auto entries = TEVIORegistryEntry::serviceObjectsMatchingName(
            "AppleSmartBattery", registryOf({entry("AppleSmartBattery", smartBattery(row.changes))}));
        ASSERT_TRUE(entries && entries->size() == 1) << row.what;
        const auto pack = std::make_shared<TEVSmartBatteryInfo>(entries->front());
        const auto sensor = row.cell == whole ? TEVBatterySensor::create(pack, row.kind, 0)
                                              : TEVBatterySensor::createForCellVoltage(pack, 0, row.cell);
        EXPECT_EQ(sensor->rawValue(), row.raw) << row.what;
    }
}

TEST(TEVSmartBatteryTemperatureSensor, WholeDegreesAndOnlyForNamedBatteriesWithATemperature)
{
    struct Row { QVariant temperature; qint64 raw; };
    const Row rows[] = {{values::fromSigned(3031), 29}, {values::fromSigned(2726), 0}, {values::fromSigned(2600), -13}};
    for (const Row& row : rows) {
        const auto sensor = TEVSmartBatteryTemperatureSensor::create(battery({{"Temperature", row.temperature}}));
        ASSERT_TRUE(sensor);
        EXPECT_EQ(sensor->rawValue(), row.raw);
    }
    const auto sensor = TEVSmartBatteryTemperatureSensor::create(battery());
    EXPECT_EQ(sensor->uniqueIdentifier(), "smartbattery.bq20z451.10524");
    EXPECT_EQ(sensor->locationIdentifier(), "Smart Battery bq20z451 (10524)");
    EXPECT_EQ(sensor->unit(), "C");
    EXPECT_EQ(sensor->precision(), 0.5);

    EXPECT_FALSE(TEVSmartBatteryTemperatureSensor::create(battery({{"Temperature", QVariant()}})));
    const auto registry = registryOf({entry("AppleSmartBattery", smartBattery({{"DeviceName", ""}}))});
    EXPECT_TRUE(TEVSmartBatteryTemperatureSensor::allSensors(registry).isEmpty());
    EXPECT_EQ(TEVBatterySensor::allSensors(registry).size(), 7);
}

TEST(TEVCaseLockSensor, OneSensorPerKeyswitchEntryReadLive)
{
    const auto registry = registryOf({entry("AppleKeyswitch", {{"Keyswitch", values::fromSigned(1)}}),
                                      entry("AppleKeyswitch", {}),
                                      entry("AppleKeyswitch", {{"Keyswitch", values::fromSigned(0)}})});
    const TEVSensorList sensors = TEVCaseLockSensor::allSensors(registry);
    ASSERT_EQ(sensors.size(), 2);
    EXPECT_EQ(sensors[0]->uniqueIdentifier(), "apple.keyswitch.0");
    EXPECT_EQ(sensors[1]->uniqueIdentifier(), "apple.keyswitch.0");
    EXPECT_EQ(sensors[0]->rawValue(), 1);
    EXPECT_EQ(sensors[1]->rawValue(), 0);
    EXPECT_EQ(sensors[0]->quantityType(), 11);
    EXPECT_EQ(sensors[0]->unit(), "");
    EXPECT_FALSE(TEVCaseLockSensor::create(std::make_shared<TEVIORegistryEntry>()));
}

TEST(SimulatedComputers, PortableBatteryDischargesAndServerHasItsCaseLock)
{
    const auto portable =
        platform::SimulatedComputer::load(kelvaro::test::sourcePath("fixtures/computers/portable")).computer;
    ASSERT_TRUE(portable);
    platform::SimulatedComputer::setCurrent(portable);
    const auto batteries = TEVSmartBatteryInfo::allBatteries();
    ASSERT_EQ(batteries.size(), 1);
    const auto smart = std::static_pointer_cast<TEVSmartBatteryInfo>(batteries[0]);
    EXPECT_EQ(smart->numberOfCells(), 3u);
    const double capacity = smart->currentCapacity();
    const double cell = smart->cellVoltageAtIndex(0);
    kelvaro::test::clock()->advanceSeconds(600);
    EXPECT_DOUBLE_EQ(smart->currentCapacity(), capacity - 225);
    EXPECT_LT(smart->cellVoltageAtIndex(0), cell);
    EXPECT_LT(smart->amperage(), 0);
    EXPECT_EQ(TEVBatterySensor::allSensors().size(), 7);
    EXPECT_EQ(TEVSmartBatteryTemperatureSensor::allSensors().size(), 1);
    EXPECT_TRUE(TEVCaseLockSensor::allSensors().isEmpty());

    platform::SimulatedComputer::setCurrent(
        platform::SimulatedComputer::load(kelvaro::test::sourcePath("fixtures/computers/server")).computer);
    const TEVSensorList locks = TEVCaseLockSensor::allSensors();
    ASSERT_EQ(locks.size(), 1);
    EXPECT_EQ(locks[0]->rawValue(), 1);
    EXPECT_TRUE(TEVBatterySensor::allSensors().isEmpty());
    platform::SimulatedComputer::setCurrent(nullptr);
}

namespace {

// A charge-based battery BAT0 beside a mains adapter under a temporary host root made current.
struct LinuxBattery {
    QTemporaryDir dir;
    QString folder = dir.path() + "/sys/class/power_supply/BAT0/";
    LinuxBattery()
    {
        const QList<QPair<QString, QByteArray>> files = {
            {"type", "Battery"},         {"status", "Discharging"},       {"voltage_now", "12345678"},
            {"current_now", "1500000"},  {"charge_full", "5480000"},      {"charge_now", "4380000"},
            {"charge_full_design", "6100000"}, {"cycle_count", "214"},    {"model_name", "bq20z451"},
            {"serial_number", "10524"},  {"temp", "299"}};
        for (const auto& [file, text] : files)
            set(file, text);
        kelvaro::test::writeFile(dir.path() + "/sys/class/power_supply/AC/type", "Mains\n");
        kelvaro::test::writeFile(dir.path() + "/sys/class/power_supply/AC/online", "0\n");
        platform::HostRoot::setCurrent(std::make_shared<platform::HostRoot>(dir.path()));
    }
    ~LinuxBattery() { platform::HostRoot::setCurrent(nullptr); }
    void set(const QString& file, const QByteArray& text) { kelvaro::test::writeFile(folder + file, text + "\n"); }
};

} // namespace

TEST(TEVArtificialSensor, BatteryProbeHasNoValueWhenACapacityIsMissingOrNegativeOrItHasNoPack)
{
    struct Row {
        const char* what;
        QStringList removed;
        QList<QPair<QString, QByteArray>> written;
        qint64 raw;
        qint64 index = 0;
        bool rebound = false; // bound again after the change, as at a rescan
    };
    const Row rows[] = {
        {"both capacities", {}, {}, qint64(4380.0 / 5480.0 * 100.0 * 65536.0)},
        {"no full capacity", {"charge_full"}, {}, -1},
        {"no capacity at all", {"charge_full", "charge_now"}, {}, -1},
        {"negative charge", {}, {{"charge_now", "-5000"}}, -1},
        {"battery pulled", {"."}, {}, -1},
        {"battery pulled, probe bound again", {"."}, {}, -1, 0, true},
        {"no pack of that number", {}, {}, -1, 3},
        {"empty battery of zero size", {}, {{"charge_full", "0"}}, 0},
    };
    for (const Row& row : rows) {
        LinuxBattery battery;
        const auto probe = TEVArtificialSensor::createAsBatterySensorForIndex(row.index);
        ASSERT_EQ(probe->isBound(), row.index == 0) << row.what;
        for (const QString& file : row.removed)
            ASSERT_TRUE(file == "." ? QDir(battery.folder).removeRecursively() : QFile::remove(battery.folder + file));
        for (const auto& [file, text] : row.written)
            battery.set(file, text);
        if (row.rebound) {
            probe->resolveObjectDependenciesUsingSensorList(nullptr);
            EXPECT_FALSE(probe->isBound()) << row.what;
        }
        EXPECT_EQ(probe->rawValue(), row.raw) << row.what;
    }
}

TEST(TEVSmartBatteryInfo, AReadoutOpensEachFileOfTheBatteryOnce)
{
    LinuxBattery battery;
    const auto batteries = TEVBatteryInfo::allBatteries();
    ASSERT_EQ(batteries.size(), 1);
    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    ASSERT_GE(inotify_add_watch(watcher, QFile::encodeName(battery.folder).constData(), IN_OPEN), 0);

    const QVariantMap readouts = batteries.front()->currentReadouts();
    EXPECT_EQ(readouts.value("TotalCapacity"), values::fromReal(5480));
    const QString description = std::static_pointer_cast<TEVSmartBatteryInfo>(batteries.front())->description();
    EXPECT_TRUE(description.contains("Current Capacity: 4380.000000 mAh"));

    QHash<QString, int> opens;
    alignas(inotify_event) char buffer[16384];
    for (ssize_t n; (n = read(watcher, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0)
                ++opens[QString::fromUtf8(event->name)];
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    close(watcher);
    ASSERT_FALSE(opens.isEmpty());
    // The readout and the description: two reads of the folder.
    for (auto it = opens.cbegin(); it != opens.cend(); ++it)
        EXPECT_LE(it.value(), 2) << it.key().toStdString();
}
