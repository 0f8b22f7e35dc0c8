#include "sensors/TEVSMARTTemperatureSensor.h"

#include "platform/foundation/UserDefaults.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVLocalSMARTProbe.h"
#include "sensors/TEVSensorValueConverter.h"
#include "tests/sensors/SmartTestSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

using platform::FixtureAtaSmartTransport;
using namespace smarttest;

namespace {

// A drive whose temperature and failures the test sets between readings, and the sensor made for it.
struct Rig {
    std::shared_ptr<FixtureAtaSmartTransport> transport = std::make_shared<FixtureAtaSmartTransport>();
    std::shared_ptr<TEVSMARTTemperatureSensor> sensor;

    explicit Rig(int first = 40)
    {
        transport->setDrive("sda", drive(first));
        sensor = TEVSMARTTemperatureSensor::createWithSMARTStorageDevice(device(transport));
    }
    void setTemperature(int celsius)
    {
        auto d = *transport->drive("sda");
        d.data = temperaturePage(celsius);
        transport->setDrive("sda", d);
    }
    void setSilent(bool silent) { transport->setFailing("sda", FixtureAtaSmartTransport::Operation::Data, silent); }
    int reads() const { return transport->commandCount("sda"); }
};

void advance(double seconds)
{
    kelvaro::test::clock()->advanceSeconds(seconds);
}

} // namespace

TEST(TEVSMARTTemperatureSensor, CarriesTheDrivesIdentity)
{
    Rig rig(38);
    ASSERT_TRUE(rig.sensor);
    const auto& s = *rig.sensor;
    EXPECT_EQ(s.uniqueIdentifier(), "smart.TEST DRIVE 1000.SN-0001");
    EXPECT_EQ(s.locationIdentifier(), "SMART Disk TEST DRIVE 1000 (SN-0001)");
    EXPECT_EQ(s.sensorName(), "S.M.A.R.T. Hard Disk Sensor");
    EXPECT_EQ(s.sensorType(), 1);
    EXPECT_EQ(s.quantityType(), 1);
    EXPECT_EQ(s.precision(), 1.0);
    EXPECT_EQ(s.accuracy(), 0.0);
    EXPECT_EQ(s.unit(), "C");
    EXPECT_EQ(s.valueConverter()->functionType(), TEVSensorValueConverter::Identity);
    EXPECT_EQ(s.rawValue(), 38);
    EXPECT_EQ(s.sourceDevice()->bsdName(), "sda");
    EXPECT_EQ(TEVSMARTTemperatureSensor().quantityType(), 1);
}

TEST(TEVSMARTTemperatureSensor, DriveWithoutATemperatureMakesNoSensor)
{
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    auto d = drive();
    d.data = dataPage({{1}, {9}});
    transport->setDrive("sda", d);
    EXPECT_FALSE(TEVSMARTTemperatureSensor::createWithSMARTStorageDevice(device(transport)));
    EXPECT_FALSE(TEVSMARTTemperatureSensor::createWithSMARTStorageDevice(nullptr));
}

TEST(TEVSMARTTemperatureSensor, ReadsTheDriveAtMostOncePerAccessInterval)
{
    Rig rig(40);
    const int afterCreation = rig.reads();
    rig.setTemperature(45);
    EXPECT_EQ(rig.sensor->rawValue(), 40); // created just now: the interval runs
    advance(10);
    EXPECT_EQ(rig.sensor->rawValue(), 40);
    EXPECT_EQ(rig.reads(), afterCreation);
    advance(50);
    EXPECT_EQ(rig.sensor->rawValue(), 45);
    const int afterRead = rig.reads();
    advance(10);
    EXPECT_EQ(rig.sensor->rawValue(), 45);
    EXPECT_EQ(rig.reads(), afterRead);

    // With no interval every call goes to the drive.
    rig.sensor->setDiskAccessInterval(0);
    advance(60);
    rig.sensor->rawValue();
    const int before = rig.reads();
    rig.sensor->rawValue();
    rig.sensor->rawValue();
    EXPECT_GT(rig.reads(), before + 1);
}

TEST(TEVSMARTTemperatureSensor, SettingTheWallClockNeitherStallsNorFloodsTheDrive)
{
    Rig rig(40);
    rig.setTemperature(44);
    // The user sets the date a year back: the interval still ends 60 s after the last read.
    kelvaro::test::clock()->setNow(QDateTime(QDate(2025, 1, 1), QTime(12, 0), Qt::UTC));
    advance(60);
    EXPECT_EQ(rig.sensor->rawValue(), 44);
    // And a year ahead does not make every call read the drive.
    kelvaro::test::clock()->setNow(QDateTime(QDate(2027, 1, 1), QTime(12, 0), Qt::UTC));
    rig.setTemperature(46);
    EXPECT_EQ(rig.sensor->rawValue(), 44);
}

TEST(TEVSMARTTemperatureSensor, PlausibilityFilterDiscardsJumpsOfSixteenOrMore)
{
    const struct {
        int reading;
        qint64 returned;
    } rows[] = {{55, 55}, {56, 40}, {25, 25}, {24, 40}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reading);
        Rig rig(40);
        rig.sensor->setDiskAccessInterval(60);
        rig.setTemperature(row.reading);
        advance(60);
        EXPECT_EQ(rig.sensor->rawValue(), row.returned);
        EXPECT_EQ(rig.sensor->numberOfRetries(), row.returned == 40 ? 1u : 0u);
        if (row.returned == 40) {
            // A discarded reading is retried at the next call, without waiting for the interval.
            rig.setTemperature(41);
            const int before = rig.reads();
            EXPECT_EQ(rig.sensor->rawValue(), 41);
            EXPECT_GT(rig.reads(), before);
            EXPECT_EQ(rig.sensor->numberOfRetries(), 0u);
        }
    }
}

TEST(TEVSMARTTemperatureSensor, TwelfthSuspiciousReadingInARowIsTaken)
{
    Rig rig(40);
    rig.setTemperature(80);
    advance(60);
    for (int i = 1; i <= 11; ++i) {
        EXPECT_EQ(rig.sensor->rawValue(), 40) << i;
        EXPECT_EQ(rig.sensor->numberOfRetries(), quint64(i));
    }
    EXPECT_EQ(rig.sensor->rawValue(), 80);
    EXPECT_EQ(rig.sensor->numberOfRetries(), 0u);
}

TEST(TEVSMARTTemperatureSensor, SilentDriveGivesNoValueAfterElevenRetriesAndRecoversTheSameWay)
{
    Rig rig(40);
    rig.setSilent(true);
    advance(60);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(rig.sensor->rawValue(), 40);
    EXPECT_EQ(rig.sensor->rawValue(), -1);

    // -1 is now the cached value: 45 differs from it by 46, so it too waits for the twelfth reading.
    rig.setSilent(false);
    rig.setTemperature(45);
    advance(60);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(rig.sensor->rawValue(), -1);
    EXPECT_EQ(rig.sensor->rawValue(), 45);
}

TEST(TEVSMARTTemperatureSensor, TraceModeExplainsDiscardedReadings)
{
    const auto defaults = platform::UserDefaults::standard();
    defaults->setObject(platform::values::fromBool(false), "TraceSMARTTemperatures");
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    transport->setDrive("sda", drive(40));
    const auto sensors = TEVSMARTTemperatureSensor::allSensors(driveRegistry(), transport);
    defaults->removeObjectForKey("TraceSMARTTemperatures");
    ASSERT_EQ(sensors.size(), 1);
    EXPECT_TRUE(TEVSMARTTemperatureSensor::traceMode());
    EXPECT_TRUE(kelvaro::test::log().contains("Enabled trace mode for S.M.A.R.T. temperature sensors ---\n"));
    EXPECT_TRUE(kelvaro::test::log().contains(
        "Tracing access to S.M.A.R.T. temperature values of device 'TEST DRIVE 1000', serial numer 'SN-0001'.\n"));

    auto d = drive(70);
    transport->setDrive("sda", d);
    advance(60);
    EXPECT_EQ(sensors.front()->rawValue(), 40);
    EXPECT_TRUE(kelvaro::test::log().contains(
        "*** S.M.A.R.T. device problem detected when accessing temperature sensor (0 retries):\n"));
    EXPECT_TRUE(kelvaro::test::log().contains("*** Reason: not trusting the value 70. Previous value was 40.\n"));
    transport->setFailing("sda", FixtureAtaSmartTransport::Operation::Data, true);
    sensors.front()->rawValue();
    EXPECT_TRUE(kelvaro::test::log().contains(
        "*** Reason: the device did not return a value. Device error or bus access blocked.\n"));

    // Building the list again without the switch turns tracing off.
    TEVSMARTTemperatureSensor::allSensors(driveRegistry(), transport);
    EXPECT_FALSE(TEVSMARTTemperatureSensor::traceMode());
}

TEST(TEVSMARTTemperatureSensor, DebugSwitchStoredAsNoStillTurnsDebugModeOn)
{
    const auto defaults = platform::UserDefaults::standard();
    defaults->setObject(platform::values::fromBool(false), "DebugSMARTAccess");
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    transport->setDrive("sda", drive(40));
    const auto sensors = TEVSMARTTemperatureSensor::allSensors(driveRegistry(), transport);
    defaults->removeObjectForKey("DebugSMARTAccess");
    EXPECT_TRUE(TEVSMARTStorageDevice::debugMode());
    EXPECT_EQ(sensors.size(), 1);
    EXPECT_TRUE(kelvaro::test::log().contains("Enabled debug mode for S.M.A.R.T. temperature access ---\n"));
    EXPECT_TRUE(kelvaro::test::log().contains("   Sensor detected successfully: <TEVSMARTTemperatureSensor>"));
    EXPECT_TRUE(kelvaro::test::log().contains("Analysis of S.M.A.R.T. temperature sensors completed ---\n"));
    // The switch gone, debug mode stays on until someone turns it off.
    TEVSMARTTemperatureSensor::allSensors(driveRegistry(), transport);
    EXPECT_TRUE(TEVSMARTStorageDevice::debugMode());
    TEVSMARTStorageDevice::setDebugMode(false);
}

TEST(TEVSMARTTemperatureSensor, LoadRegistersTheClassOnce)
{
    TEVSMARTTemperatureSensor::load();
    TEVSMARTTemperatureSensor::load();
    int found = 0;
    for (const auto& c : TEVSensor::knownSensorClasses())
        found += c.name == "TEVSMARTTemperatureSensor";
    EXPECT_EQ(found, 1);
}

TEST(SMARTDriveSaver, LeavesTheDriveAloneOnlyWhenTheKnownIdleTimeExceedsTheInterval)
{
    FakeIdleTime idle;
    Rig rig(40);
    auto probe = TEVLocalSMARTProbe::createForSMARTStorageDevice(rig.sensor->sourceDevice());
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->smartVerificationStatus(), TEVSMARTStorageDevice::StatusOK);
    rig.sensor->setDiskSaverInterval(300);
    TEVLocalSMARTProbe::setDriveSaverInterval(300);

    const struct {
        const char* name;
        std::optional<double> idleSeconds;
        bool saved;
    } rows[] = {
        {"idle past the interval", 301.0, true},
        {"idle exactly the interval", 300.0, false},
        {"idle time zero (unknown)", 0.0, false},
        {"idle time unknown", std::nullopt, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.idleSeconds)
            idle.setSeconds(*row.idleSeconds);
        else
            idle.setUnknown();
        advance(600);
        const int before = rig.reads();
        const qint64 temperature = rig.sensor->rawValue();
        const qint64 status = probe->smartVerificationStatus();
        EXPECT_EQ(temperature, row.saved ? -1 : 40);
        EXPECT_EQ(status, row.saved ? TEVSMARTStorageDevice::StatusUnknown : TEVSMARTStorageDevice::StatusOK);
        EXPECT_EQ(rig.reads() == before, row.saved);
    }

    // The saver off, any idle time reads the drive.
    idle.setSeconds(10000);
    rig.sensor->setDiskSaverInterval(0);
    TEVLocalSMARTProbe::setDriveSaverInterval(0);
    advance(600);
    EXPECT_EQ(rig.sensor->rawValue(), 40);
    EXPECT_EQ(probe->smartVerificationStatus(), TEVSMARTStorageDevice::StatusOK);
}

TEST(TEVLocalSMARTProbe, CachesTheStatusForTheClassWideInterval)
{
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    transport->setDrive("sda", drive());
    EXPECT_FALSE(TEVLocalSMARTProbe::createForSMARTStorageDevice(nullptr));
    const auto probe = TEVLocalSMARTProbe::createForSMARTStorageDevice(device(transport));
    ASSERT_TRUE(probe);
    EXPECT_EQ(TEVLocalSMARTProbe::driveAccessInterval(), 120u);

    auto d = *transport->drive("sda");
    d.thresholdExceeded = true;
    transport->setDrive("sda", d);
    advance(119);
    EXPECT_EQ(probe->smartVerificationStatus(), TEVSMARTStorageDevice::StatusOK);
    advance(1);
    EXPECT_EQ(probe->smartVerificationStatus(), TEVSMARTStorageDevice::StatusThresholdExceeded);

    TEVLocalSMARTProbe::setDriveAccessInterval(0); // ignored
    EXPECT_EQ(TEVLocalSMARTProbe::driveAccessInterval(), 120u);
    TEVLocalSMARTProbe::setDriveAccessInterval(30);
    transport->setFailing("sda", FixtureAtaSmartTransport::Operation::Status, true);
    advance(120);
    EXPECT_EQ(probe->smartVerificationStatus(), TEVSMARTStorageDevice::StatusUnknown);
    transport->setFailing("sda", FixtureAtaSmartTransport::Operation::Status, false);
    advance(29);
    EXPECT_EQ(probe->smartVerificationStatus(), TEVSMARTStorageDevice::StatusUnknown);
    advance(1);
    EXPECT_EQ(probe->smartVerificationStatus(), TEVSMARTStorageDevice::StatusThresholdExceeded);
    TEVLocalSMARTProbe::setDriveAccessInterval(TEVLocalSMARTProbe::DefaultDriveAccessInterval);
}

TEST(TEVArtificialSensor, RescanKeepsTheBoundDriveWithoutWakingItWhileTheRegistryNamesItTheSame)
{
    // A simulated computer whose registry names drive sda by the model and serial number it answers with.
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("root"));
    const auto select = [&](const char* registrySerial) {
        const QVariantMap media{{"Class", QVariantList{"IOMedia"}}, {"Properties", QVariantMap{{"BSD Name", "sda"}}}};
        const QVariantMap disk{
            {"Class", QVariantList{"IOAHCIBlockStorageDevice", "IOBlockStorageDevice"}},
            {"Properties", QVariantMap{{"SMART Capable", true},
                                       {"Device Characteristics",
                                        QVariantMap{{"Product Name", "TEST DRIVE 1000"}, {"Serial Number", registrySerial}}}}},
            {"Children", QVariantList{media}}};
        const auto loaded = platform::SimulatedComputer::fromDictionary({{"Registry", QVariantList{disk}}}, dir.path());
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
    };
    select("SN-0001");
    const auto transport = std::make_shared<FixtureAtaSmartTransport>();
    transport->setDrive("sda", drive());
    platform::AtaSmartTransport::setShared(transport);

    const auto probe = TEVArtificialSensor::createAsSMARTStatusSensorForProductName("TEST DRIVE 1000", "SN-0001");
    ASSERT_TRUE(probe && probe->isBound());
    const int woken = transport->commandCount("sda");
    EXPECT_GT(woken, 0);
    probe->resolveObjectDependenciesUsingSensorList(TEVSensorList{});
    EXPECT_EQ(transport->commandCount("sda"), woken) << "a rescan read the bound drive again";
    EXPECT_TRUE(probe->isBound());

    // Another drive entry (a swapped disk): the drive is identified anew.
    select("SN-0002");
    probe->resolveObjectDependenciesUsingSensorList(TEVSensorList{});
    EXPECT_GT(transport->commandCount("sda"), woken);
    EXPECT_TRUE(probe->isBound());

    platform::AtaSmartTransport::setShared(nullptr);
    platform::SimulatedComputer::setCurrent(nullptr);
}
