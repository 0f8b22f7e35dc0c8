#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Values.h"
#include "platform/registry/DrmDisplayProvider.h"
#include "platform/registry/FixtureIORegistry.h"
#include "platform/registry/IORegistry.h"
#include "platform/registry/LinuxIORegistry.h"
#include "platform/registry/PowerSupplyBatteryProvider.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

using platform::HostRoot;
using platform::IORegistry;
using platform::LinuxIORegistry;
namespace values = platform::values;

namespace {

using Files = QList<QPair<QString, QByteArray>>;

// A host root holding the given /sys/class/power_supply/<supply>/<attribute> files.
struct FakeSysfs {
    QTemporaryDir dir;
    explicit FakeSysfs(const QString& folder, const Files& files)
    {
        for (const auto& [path, text] : files)
            kelvaro::test::writeFile(dir.path() + folder + path, text + "\n");
    }
    HostRoot root() const { return HostRoot(dir.path()); }
};

std::shared_ptr<const IORegistry> batteriesOf(const HostRoot& root)
{
    return LinuxIORegistry::build(root, {std::make_shared<platform::PowerSupplyBatteryProvider>()});
}

const QString supplies = QStringLiteral("/sys/class/power_supply");

// A charge-based ACPI battery (µV, µA, µAh) beside a mains adapter; the driver reports the current unsigned.
Files acpiBattery(const QByteArray& status, const QByteArray& current, const QByteArray& online)
{
    return {{"/AC/type", "Mains"},
            {"/AC/online", online},
            {"/BAT0/type", "Battery"},
            {"/BAT0/present", "1"},
            {"/BAT0/status", status},
            {"/BAT0/voltage_now", "12345678"},
            {"/BAT0/voltage_min_design", "11400000"},
            {"/BAT0/current_now", current},
            {"/BAT0/charge_full", "5480000"},
            {"/BAT0/charge_full_design", "6100000"},
            {"/BAT0/charge_now", "4380400"},
            {"/BAT0/cycle_count", "214"},
            {"/BAT0/manufacturer", "SMP"},
            {"/BAT0/model_name", "bq20z451"},
            {"/BAT0/serial_number", "10524"},
            {"/BAT0/temp", "299"},
            {"/BAT0/manufacture_year", "2017"},
            {"/BAT0/manufacture_month", "3"},
            {"/BAT0/manufacture_day", "15"}};
}

} // namespace

TEST(PowerSupplyBatteryProvider, ChargingDischargingAndFullGiveUnitsAndSignsOfTheBatteryClass)
{
    struct Row {
        const char* name;
        QByteArray status, current, online;
        qint64 amperage;
        quint64 flags;
        bool charging, full;
    };
    const Row rows[] = {
        {"discharging, unsigned driver current", "Discharging", "1500000", "0", -1500, 0x4, false, false},
        {"discharging, negative driver current", "Discharging", "-1500000", "0", -1500, 0x4, false, false},
        {"charging, negative driver current", "Charging", "-2000400", "1", 2000, 0x7, true, false},
        {"full on mains", "Full", "0", "1", 0, 0x5, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const FakeSysfs sysfs(supplies, acpiBattery(row.status, row.current, row.online));
        const auto batteries = batteriesOf(sysfs.root())->matchingClass("AppleSmartBattery");
        ASSERT_EQ(batteries.size(), 1u);
        EXPECT_EQ(batteries[0]->name(), "BAT0");
        EXPECT_TRUE(batteries[0]->conformsTo("IOPMPowerSource"));
        const QVariantMap p = batteries[0]->properties();
        EXPECT_EQ(p.value("Voltage"), values::fromSigned(12346));
        EXPECT_EQ(p.value("Amperage"), values::fromSigned(row.amperage));
        EXPECT_EQ(p.value("MaxCapacity"), values::fromSigned(5480));
        EXPECT_EQ(p.value("DesignCapacity"), values::fromSigned(6100));
        EXPECT_EQ(p.value("CurrentCapacity"), values::fromSigned(4380));
        EXPECT_EQ(p.value("CycleCount"), values::fromSigned(214));
        EXPECT_EQ(p.value("Manufacturer"), "SMP");
        EXPECT_EQ(p.value("DeviceName"), "bq20z451");
        EXPECT_EQ(p.value("FirmwareSerialNumber"), values::fromSigned(10524));
        EXPECT_FALSE(p.contains("BatterySerialNumber"));
        EXPECT_EQ(p.value("ManufactureDate"), values::fromSigned(0x4A6F)); // 15 March 2017
        EXPECT_EQ(p.value("Temperature"), values::fromSigned(3031));       // 29.9 °C in 0.1 K
        EXPECT_EQ(p.value("LegacyBatteryInfo").toMap().value("Flags"), values::fromUnsigned(row.flags));
        EXPECT_EQ(p.value("IsCharging"), values::fromBool(row.charging));
        EXPECT_EQ(p.value("FullyCharged"), values::fromBool(row.full));
    }
}

TEST(PowerSupplyBatteryProvider, AUsbChargerCountsAsExternalPower)
{
    Files files = acpiBattery("Charging", "2000000", "0");
    files.append(qMakePair(QStringLiteral("/ucsi-source-psy-USBC000:001/type"), QByteArray("USB")));
    files.append(qMakePair(QStringLiteral("/ucsi-source-psy-USBC000:001/online"), QByteArray("1")));
    const FakeSysfs sysfs(supplies, files);
    const auto batteries = batteriesOf(sysfs.root())->matchingClass("AppleSmartBattery");
    ASSERT_EQ(batteries.size(), 1u);
    EXPECT_EQ(batteries[0]->properties().value("LegacyBatteryInfo").toMap().value("Flags"), values::fromUnsigned(0x7));
}

TEST(PowerSupplyBatteryProvider, EnergyDriversAreConvertedByTheDesignVoltage)
{
    // µWh over the design voltage; the current comes from the power over the present voltage.
    const FakeSysfs sysfs(supplies, {{"/BAT1/type", "Battery"},
                                     {"/BAT1/status", "Discharging"},
                                     {"/BAT1/voltage_now", "11000000"},
                                     {"/BAT1/voltage_min_design", "11100000"},
                                     {"/BAT1/power_now", "16500000"},
                                     {"/BAT1/energy_full", "55500000"},
                                     {"/BAT1/energy_full_design", "66600000"},
                                     {"/BAT1/energy_now", "22200000"},
                                     {"/BAT1/serial_number", "SWD-A123"}});
    const QVariantMap p = batteriesOf(sysfs.root())->matchingClass("AppleSmartBattery").at(0)->properties();
    EXPECT_EQ(p.value("Amperage"), values::fromSigned(-1500));
    EXPECT_EQ(p.value("MaxCapacity"), values::fromSigned(5000));
    EXPECT_EQ(p.value("DesignCapacity"), values::fromSigned(6000));
    EXPECT_EQ(p.value("CurrentCapacity"), values::fromSigned(2000));
    // A text serial is the battery's serial; there is no firmware number.
    EXPECT_EQ(p.value("FirmwareSerialNumber"), values::fromSigned(0));
    EXPECT_EQ(p.value("BatterySerialNumber"), "SWD-A123");
    // Unknown date and cycle count: an invalid date word and the kernel's 0.
    EXPECT_EQ(p.value("ManufactureDate"), values::fromSigned(0));
    EXPECT_EQ(p.value("CycleCount"), values::fromSigned(0));
    EXPECT_FALSE(p.contains("Temperature"));
}

TEST(PowerSupplyBatteryProvider, AbsentBatteryAndOtherSuppliesPublishNoReadings)
{
    const FakeSysfs sysfs(supplies, {{"/AC/type", "Mains"},
                                     {"/hidpp_battery_0/type", "Mouse"},
                                     {"/BAT0/type", "Battery"},
                                     {"/BAT0/present", "0"},
                                     {"/BAT0/voltage_now", "garbage"}});
    const auto batteries = batteriesOf(sysfs.root())->matchingClass("AppleSmartBattery");
    ASSERT_EQ(batteries.size(), 1u);
    EXPECT_TRUE(batteries[0]->properties().isEmpty());
}

TEST(PowerSupplyBatteryProvider, ReadingsFollowTheFilesLive)
{
    FakeSysfs sysfs(supplies, acpiBattery("Discharging", "1000000", "0"));
    const auto registry = batteriesOf(sysfs.root());
    const auto battery = registry->matchingClass("AppleSmartBattery").at(0);
    kelvaro::test::writeFile(sysfs.dir.path() + supplies + "/BAT0/charge_now", "4000000\n");
    EXPECT_EQ(battery->property("CurrentCapacity"), values::fromSigned(4000));
}

TEST(DrmDisplayProvider, ConnectedOutputsWithAnEdidBecomeDisplays)
{
    const QByteArray edid(128, '\x01');
    const FakeSysfs sysfs(QStringLiteral("/sys/class/drm"),
                          {{"/card0/dev", "226:0"},
                           {"/card0-eDP-1/status", "connected"},
                           {"/card0-eDP-1/edid", edid},
                           {"/card0-DP-1/status", "disconnected"},
                           {"/card0-DP-1/edid", edid},
                           {"/card0-HDMI-A-1/status", "connected"},
                           {"/card0-HDMI-A-1/edid", edid},
                           {"/card1-DP-2/status", "connected"}});
    const auto registry =
        LinuxIORegistry::build(sysfs.root(), {std::make_shared<platform::DrmDisplayProvider>()});
    const auto displays = registry->matchingClass("IODisplay");
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0]->className(), "AppleDisplay");
    EXPECT_EQ(displays[0]->name(), "HDMI-A-1");
    EXPECT_EQ(displays[1]->className(), "AppleBacklightDisplay");
    EXPECT_EQ(displays[1]->name(), "eDP-1");
    // The file as written, with the line feed FakeSysfs appends.
    EXPECT_EQ(displays[1]->property("IODisplayEDID"), values::fromData(edid + "\n"));
}

TEST(FixtureIORegistry, DriftMovesPropertiesWithTheClockWithinBounds)
{
    const QVariantMap battery{
        {"Class", QVariantList{"AppleSmartBattery", "IOService"}},
        {"Properties", QVariantMap{{"CurrentCapacity", values::fromSigned(1000)},
                                   {"CellVoltage", QVariantList{values::fromSigned(4000), values::fromSigned(3990)}},
                                   {"Temperature", values::fromReal(30.0)}}},
        {"Drift", QVariantMap{{"CurrentCapacity", QVariantMap{{"PerSecond", -0.5}, {"Minimum", 900}}},
                              {"CellVoltage", QVariantMap{{"PerSecond", -0.01}}},
                              {"Temperature", QVariantMap{{"PerSecond", 0.25}, {"Maximum", 31.0}}}}}};
    const auto loaded = platform::FixtureIORegistry::load({battery});
    ASSERT_TRUE(loaded.registry) << loaded.error.toStdString();
    const auto entry = loaded.registry->matchingClass("AppleSmartBattery").at(0);
    EXPECT_EQ(entry->property("CurrentCapacity"), values::fromSigned(1000));

    kelvaro::test::clock()->advanceSeconds(100);
    EXPECT_EQ(entry->property("CurrentCapacity"), values::fromSigned(950));
    EXPECT_EQ(entry->property("CellVoltage"), QVariant(QVariantList{values::fromSigned(3999), values::fromSigned(3989)}));
    EXPECT_EQ(entry->property("Temperature"), values::fromReal(31.0));

    kelvaro::test::clock()->advanceSeconds(1000);
    EXPECT_EQ(entry->property("CurrentCapacity"), values::fromSigned(900));

    // A rate that is not a number leaves the value as stored.
    const QVariantMap odd{
        {"Class", QVariantList{"AppleSmartBattery", "IOService"}},
        {"Properties", QVariantMap{{"CurrentCapacity", values::fromSigned(1000)}}},
        {"Drift", QVariantMap{{"CurrentCapacity", QVariantMap{{"PerSecond", std::numeric_limits<double>::quiet_NaN()}}}}}};
    const auto oddLoaded = platform::FixtureIORegistry::load({odd});
    ASSERT_TRUE(oddLoaded.registry) << oddLoaded.error.toStdString();
    const auto oddEntry = oddLoaded.registry->matchingClass("AppleSmartBattery").at(0);
    kelvaro::test::clock()->advanceSeconds(10);
    EXPECT_EQ(oddEntry->property("CurrentCapacity"), values::fromSigned(1000));
}

TEST(FixtureIORegistry, DriftOfAMissingOrTextPropertyFailsTheLoad)
{
    const auto with = [](const QVariantMap& drift) {
        return QVariantMap{{"Class", QVariantList{"AppleSmartBattery"}},
                           {"Properties", QVariantMap{{"DeviceName", "bq20z451"}, {"Voltage", values::fromSigned(1)}}},
                           {"Drift", drift}};
    };
    struct Row { QVariantMap drift; const char* error; };
    const Row rows[] = {
        {{{"DeviceName", QVariantMap{{"PerSecond", 1}}}}, "Registry[0].Drift.DeviceName: the property must be"},
        {{{"Missing", QVariantMap{{"PerSecond", 1}}}}, "Registry[0].Drift.Missing: the property must be"},
        {{{"Voltage", QVariantMap{{"Minimum", 1}}}}, "Registry[0].Drift.Voltage: needs PerSecond"},
        {{{"Voltage", QVariantMap{{"PerSecond", 1}, {"Rate", 2}}}}, "Registry[0].Drift.Voltage.Rate: unknown key"},
    };
    for (const Row& row : rows) {
        const auto loaded = platform::FixtureIORegistry::load({with(row.drift)});
        EXPECT_FALSE(loaded.registry);
        EXPECT_TRUE(loaded.error.startsWith(row.error)) << loaded.error.toStdString();
    }
}
