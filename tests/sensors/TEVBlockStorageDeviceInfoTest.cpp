#include "sensors/TEVBlockStorageDeviceInfo.h"

#include "platform/foundation/SimulatedComputer.h"
#include "sensors/TEVSMARTTemperatureSensor.h"
#include "tests/sensors/SmartTestSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

using platform::FixtureAtaSmartTransport;
using namespace smarttest;

namespace {

QVariantMap characteristics(const QVariantMap& device, const QString& interconnect = "SATA")
{
    return {{"Device Characteristics", device},
            {"Protocol Characteristics", QVariantMap{{"Physical Interconnect", interconnect}}}};
}

std::shared_ptr<TEVBlockStorageDeviceInfo> info(const QVariantMap& properties,
                                                 const std::shared_ptr<FixtureAtaSmartTransport>& transport = nullptr)
{
    return TEVBlockStorageDeviceInfo::createWithIORegistryEntry(
        firstDriveEntry(driveRegistry(properties)), transport ? transport : std::make_shared<FixtureAtaSmartTransport>());
}

} // namespace

TEST(TEVBlockStorageDeviceInfo, JoinsTrimmedVendorAndProduct)
{
    const struct {
        QVariantMap device;
        QString expected;
    } rows[] = {
        {{{"Vendor Name", "  SanDisk "}, {"Product Name", " Cruzer Blade  "}}, "SanDisk Cruzer Blade"},
        {{{"Product Name", " Samsung SSD 860 "}}, "Samsung SSD 860"},
        {{{"Vendor Name", "   "}, {"Product Name", "Disk"}}, "Disk"},
    };
    for (const auto& row : rows) {
        const auto record = info(characteristics(row.device, " USB "));
        ASSERT_TRUE(record);
        EXPECT_EQ(record->infoDictionary().value("VendorAndProduct"), QVariant(row.expected));
        EXPECT_EQ(record->infoDictionary().value("InterconnectProtocol"), QVariant("USB"));
    }
}

TEST(TEVBlockStorageDeviceInfo, DevicesWithoutTheirDescriptionsHaveNoRecord)
{
    EXPECT_FALSE(info({{"Device Characteristics", QVariantMap{{"Product Name", "X"}}}}));
    EXPECT_FALSE(info({{"Protocol Characteristics", QVariantMap{{"Physical Interconnect", "SATA"}}}}));
    EXPECT_FALSE(info(characteristics({{"Vendor Name", "X"}})));
    EXPECT_FALSE(info({{"Device Characteristics", QVariantMap{{"Product Name", "X"}}}, {"Protocol Characteristics", QVariantMap{}}}));
    EXPECT_FALSE(TEVBlockStorageDeviceInfo::createWithIORegistryEntry(nullptr));
}

TEST(TEVBlockStorageDeviceInfo, StickWithoutSmartHasNoStatusOrSerial)
{
    QVariantMap properties = characteristics({{"Product Name", "Flash"}}, "USB");
    properties.insert("SMART Capable", false);
    const auto record = info(properties);
    ASSERT_TRUE(record);
    const QVariantMap d = record->infoDictionary();
    EXPECT_TRUE(platform::values::strictlyEqual(d.value("SupportsSMART"), platform::values::fromBool(false)));
    EXPECT_TRUE(platform::values::strictlyEqual(d.value("SMARTStatus"), platform::values::fromSigned(0)));
    EXPECT_EQ(d.value("SMARTSerialNumber"), QVariant(""));
    EXPECT_EQ(d.value("BSDDeviceName"), QVariant("sda"));
}

TEST(TEVBlockStorageDeviceInfo, SmartDriveGivesItsStatusAndIdentifySerial)
{
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    auto d = drive();
    d.thresholdExceeded = true;
    transport->setDrive("sda", d);
    QVariantMap properties = characteristics({{"Product Name", "Registry Name"}, {"Serial Number", "registry serial"}});
    properties.insert("SMART Capable", true);
    const auto record = info(properties, transport);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->infoDictionary().value("SMARTStatus").toLongLong(), TEVSMARTStorageDevice::StatusThresholdExceeded);
    EXPECT_EQ(record->infoDictionary().value("SMARTSerialNumber"), QVariant("SN-0001"));
    // A drive that cannot be opened still has a record.
    transport->setFailing("sda", FixtureAtaSmartTransport::Operation::Open, true);
    const auto closed = info(properties, transport);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->infoDictionary().value("SMARTStatus").toLongLong(), 0);
    EXPECT_TRUE(closed->infoDictionary().value("SupportsSMART").toBool());
}

TEST(TEVBlockStorageDeviceInfo, BsdNameComesFromTheFirstChildChainOnly)
{
    platform::IORegistry::Builder builder;
    const auto source = [](const QVariantMap& p) { return std::make_shared<platform::StaticIORegistryPropertySource>(p); };
    const QVariantMap device = characteristics({{"Product Name", "Deep"}});
    const int deep = builder.add(platform::IORegistry::RootIndex, {"IOBlockStorageDevice"}, "deep", source(device));
    const int driver = builder.add(deep, {"IOBlockStorageDriver"}, "driver", source({}));
    builder.add(driver, {"IOMedia"}, "media", source({{"BSD Name", "disk2"}}));
    builder.add(platform::IORegistry::RootIndex, {"IOBlockStorageDevice"}, "lonely", source(device));
    const int data = builder.add(platform::IORegistry::RootIndex, {"IOBlockStorageDevice"}, "data", source(device));
    builder.add(data, {"IOMedia"}, "media", source({{"BSD Name", QByteArray("disk3")}}));
    const auto records = TEVBlockStorageDeviceInfo::blockStorageDeviceDescriptions(builder.finish());
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(records[0].toMap().value("BSDDeviceName"), QVariant("disk2"));
    EXPECT_EQ(records[1].toMap().value("BSDDeviceName"), QVariant(""));
    EXPECT_EQ(records[2].toMap().value("BSDDeviceName"), QVariant(""));
}

TEST(SimulatedComputerDrives, EachComputerListsItsDrivesAndTemperatures)
{
    const struct {
        const char* computer;
        QStringList bsdNames;
        QStringList temperatureSensors; // unique identifiers
    } rows[] = {
        // The portable's SSD (a real one) keeps no attribute 194, so it has no temperature sensor.
        {"portable", {"sda"}, {}},
        {"tower", {"sda", "sdb"}, {"smart.SAMSUNG HD501LJ.S0MUJ1NQ110060", "smart.WDC WD5000AAKS-00TMA0.WD-WCAPW0493929"}},
        {"server", {"sda", "sdb", "sdc", "sdd"},
         {"smart.WDC WD2500JS-75NCB3.WD-WCANKH572006", "smart.ST9160821AS.5MAC2QTA", "smart.ST320410A.5FB3QF34",
          "smart.WDC WD2500JB-00REA0.WD-WMANK4051741"}},
        {"vm", {"vda"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.computer);
        const auto loaded = platform::SimulatedComputer::load(kelvaro::test::sourcePath(QStringLiteral("fixtures/computers/") + row.computer));
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
        QStringList names;
        for (const QVariant& d : TEVBlockStorageDeviceInfo::blockStorageDeviceDescriptions())
            names.append(d.toMap().value("BSDDeviceName").toString());
        EXPECT_EQ(names, row.bsdNames);
        QStringList identifiers;
        for (const auto& sensor : TEVSMARTTemperatureSensor::allSensors()) {
            identifiers.append(sensor->uniqueIdentifier());
            EXPECT_GE(sensor->rawValue(), 10);
            EXPECT_LE(sensor->rawValue(), 60);
        }
        EXPECT_EQ(identifiers, row.temperatureSensors);
        platform::SimulatedComputer::setCurrent(nullptr);
    }
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty()) << kelvaro::test::log().lines().join("").toStdString();
}

TEST(SimulatedComputerDrives, TemperaturesWanderWithinTheirAmplitude)
{
    const auto loaded = platform::SimulatedComputer::load(kelvaro::test::sourcePath("fixtures/computers/tower"));
    ASSERT_TRUE(loaded.computer);
    platform::SimulatedComputer::setCurrent(loaded.computer);
    const auto sensors = TEVSMARTTemperatureSensor::allSensors();
    ASSERT_EQ(sensors.size(), 2);
    QSet<qint64> seen;
    for (int minute = 0; minute < 40; ++minute) {
        kelvaro::test::clock()->advanceSeconds(60);
        const qint64 t = sensors.front()->rawValue();
        EXPECT_GE(t, 47 - 3);
        EXPECT_LE(t, 47 + 3);
        seen.insert(t);
    }
    EXPECT_GT(seen.size(), 2);
    platform::SimulatedComputer::setCurrent(nullptr);
}
