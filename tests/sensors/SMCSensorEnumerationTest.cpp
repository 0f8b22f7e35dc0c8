// The four SMC sensor classes over a real key table, and their registration.

#include "platform/hardware/EmulatedSmcConnection.h"
#include "sensors/TEVSMCElectricSensor.h"
#include "sensors/TEVSMCFanSensor.h"
#include "sensors/TEVSMCLightSensor.h"
#include "sensors/TEVSMCTemperatureSensor.h"
#include "sensors/TEVSensorClassLoader.h"

#include "tests/sensors/SMCTestTable.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<TEVSystemManagementController> realController()
{
    const auto section = platform::EmulatedSmcConnection::sectionFromDump(
        kelvaro::test::readFile(kelvaro::test::testDataPath("smc/MacBookPro5,1.txt")));
    EXPECT_TRUE(section);
    auto loaded = platform::EmulatedSmcConnection::fromSection(section.value_or(QVariantMap()));
    EXPECT_TRUE(loaded.connection) << loaded.error.toStdString();
    return smctest::controllerFor(std::move(loaded.connection));
}

QStringList identifiers(const TEVSensorList& sensors)
{
    QStringList ids;
    for (const auto& sensor : sensors)
        ids.append(sensor->uniqueIdentifier());
    return ids;
}

} // namespace

TEST(SMCSensorEnumeration, RealTableGivesNamedFansAndOneLightSensor)
{
    const auto smc = realController();
    ASSERT_TRUE(smc);
    const auto fans = TEVSMCFanSensor::allSensors(smc);
    EXPECT_EQ(identifiers(fans), (QStringList{"smc.fan.Left side", "smc.fan.Right side"}));
    EXPECT_EQ(fans.at(0)->rawValue(), 5372); // 0x53F1 fpe2
    EXPECT_EQ(std::dynamic_pointer_cast<TEVSMCFanSensor>(fans.at(0))->sensorLimitsArray(),
              (QVariantList{6200.0, 2000.0}));

    // ALV0 holds 10 bytes (raw data, bytes 2-3 = 00 EE); ALV1 reads 0.
    const auto lights = TEVSMCLightSensor::allSensors(smc);
    EXPECT_EQ(identifiers(lights), QStringList{"smc.light.1"});
    EXPECT_EQ(lights.at(0)->rawValue(), 0xEE);
}

TEST(SMCSensorEnumeration, RealTableKeepsOnlyFractionalElectricKeys)
{
    const auto smc = realController();
    ASSERT_TRUE(smc);
    // Every key described: which become sensors is then up to the readings and types alone.
    const auto anything = [](const QString& key) -> std::optional<QVariantMap> {
        const QByteArray k = key.toLatin1();
        return smctest::description(k.constData(), k.constData(), "SMC TEST LINE", 2);
    };
    const QStringList electric = identifiers(TEVSMCElectricSensor::allSensors(smc, anything));
    EXPECT_TRUE(electric.contains("VC0C"));
    EXPECT_TRUE(electric.contains("PC0C"));
    EXPECT_FALSE(electric.contains("VC0c")); // ui16
    EXPECT_FALSE(electric.contains("IP0r")); // ui16
    const auto volts = TEVSMCElectricSensor::allSensors(smc, anything).at(electric.indexOf("VC0C"));
    EXPECT_NEAR(volts->value(), 0x44CE / 16384.0, 1.0 / 65536); // fp2e

    const QStringList temperatures = identifiers(TEVSMCTemperatureSensor::allSensors(smc, anything));
    EXPECT_TRUE(temperatures.contains("TC0D"));
    EXPECT_TRUE(temperatures.contains("TB0T"));
    for (const QString& id : temperatures)
        EXPECT_TRUE(id.startsWith('T')) << id.toStdString();
}

TEST(SMCSensorEnumeration, LoaderRegistersTheFourClassesOnceInLoadOrder)
{
    TEVSensorClassLoader::loadAll();
    TEVSensorClassLoader::loadAll();
    QStringList smcClasses;
    for (const auto& sensorClass : TEVSensor::knownSensorClasses())
        if (sensorClass.name.startsWith("TEVSMC"))
            smcClasses.append(sensorClass.name);
    EXPECT_EQ(smcClasses, (QStringList{"TEVSMCFanSensor", "TEVSMCTemperatureSensor", "TEVSMCElectricSensor",
                                       "TEVSMCLightSensor"}));
    EXPECT_FALSE(kelvaro::test::log().contains("already registered"));
}
