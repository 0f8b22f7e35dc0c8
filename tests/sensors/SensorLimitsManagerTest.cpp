#include "sensors/SensorLimitsManager.h"

#include "sensors/TEVSMCFanSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "tests/sensors/SMCTestTable.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

using smctest::fixed;

namespace {

std::shared_ptr<TEVSensorDescription> descriptionOf(qint64 quantity, const char* location)
{
    TEVSensor sensor;
    sensor.setQuantityType(quantity);
    sensor.setLocationIdentifier(location);
    return TEVSensorDescription::descriptionForSensor(&sensor);
}

SensorLimitsManager::ModelCode model(const char* code)
{
    return [code] { return QString::fromLatin1(code); };
}

} // namespace

TEST(SensorLimitsManager, MachineWithoutSMCHasAnEmptyEntry)
{
    const SensorLimitsManager manager([] { return TEVSMCFanSensor::allSensors(nullptr); }, model("MacPro6,1"));
    ASSERT_TRUE(manager.limitsForCurrentMachine());
    EXPECT_TRUE(manager.limitsForCurrentMachine()->isEmpty());
    const auto fan = descriptionOf(6, "SMC FAN 0");
    EXPECT_EQ(manager.maximumLimitForModelCode("MacPro6,1", fan.get()), -1);
    EXPECT_EQ(manager.minimumLimitForModelCode("MacPro6,1", fan.get()), -1);
}

TEST(SensorLimitsManager, FanLimitsAreKeyedByModelAndUnifiedLocation)
{
    auto table = std::make_shared<smctest::Table>();
    table->set("FNum", "ui8 ", QByteArray(1, '\x01'));
    table->set("F0Ac", "fpe2", fixed(2000, 2));
    table->set("F0Mn", "fpe2", fixed(1200, 2));
    table->set("F0Mx", "fpe2", fixed(6200, 2));
    const auto smc = smctest::controllerFor(table);
    const SensorLimitsManager manager([smc] { return TEVSMCFanSensor::allSensors(smc); }, model("MacBookPro5,1"));

    const auto fans = TEVSMCFanSensor::allSensors(smc);
    ASSERT_EQ(fans.size(), 1);
    const auto fan = fans.front()->configurationDescription();
    EXPECT_EQ(SensorLimitsManager::unifiedSensorLocationForSensorDescription(fan.get()), "R:SMC FAN 0");
    EXPECT_EQ(manager.limitsForCurrentMachine()->keys(), QStringList{"R:SMC FAN 0"});
    EXPECT_EQ(manager.maximumLimitForModelCode("MacBookPro5,1", fan.get()), 6200);
    EXPECT_EQ(manager.minimumLimitForModelCode("MacBookPro5,1", fan.get()), 1200);
    EXPECT_EQ(manager.maximumLimitForModelCode("MacBookPro5,2", fan.get()), -1);
    EXPECT_EQ(manager.maximumLimitForModelCode(QString(), fan.get()), -1);
    EXPECT_EQ(manager.maximumLimitForModelCode("MacBookPro5,1", nullptr), -1);
    EXPECT_EQ(manager.maximumLimitForModelCode("MacBookPro5,1", descriptionOf(1, "SMC FAN 0").get()), -1);

    // Taken once: a later change of the SMC's limits is not seen.
    table->set("F0Mx", "fpe2", fixed(7000, 2));
    kelvaro::test::clock()->advanceSeconds(2);
    EXPECT_EQ(manager.maximumLimitForModelCode("MacBookPro5,1", fan.get()), 6200);
}

TEST(SensorLimitsManager, LaterFanWithTheSameLocationWins)
{
    auto table = std::make_shared<smctest::Table>();
    for (const char* f : {"F0", "F1"}) {
        const std::string p(f);
        table->set((p + "Ac").c_str(), "fpe2", fixed(2000, 2));
        table->set((p + "Mn").c_str(), "fpe2", fixed(f[1] == '0' ? 1000 : 1500, 2));
        table->set((p + "Mx").c_str(), "fpe2", fixed(f[1] == '0' ? 5000 : 5500, 2));
        table->set((p + "ID").c_str(), "{fds", smctest::fds("Main"));
    }
    const auto smc = smctest::controllerFor(table);
    const SensorLimitsManager manager(
        [smc] {
            return TEVSensorList{TEVSMCFanSensor::createForFanAtIndex(0, smc), TEVSMCFanSensor::createForFanAtIndex(1, smc)};
        },
        model("Xserve3,1"));
    const auto fan = descriptionOf(6, "SMC FAN Main");
    EXPECT_EQ(manager.maximumLimitForModelCode("Xserve3,1", fan.get()), 5500);
    EXPECT_EQ(manager.minimumLimitForModelCode("Xserve3,1", fan.get()), 1500);
}

TEST(SensorLimitsManager, UnifiedLocationLetterByQuantityType)
{
    const std::vector<std::pair<qint64, const char*>> rows{
        {1, "T:"}, {2, "V:"}, {3, "I:"}, {4, "W:"}, {5, "C:"}, {6, "R:"},
        {7, "P:"}, {8, "L:"}, {9, "G:"}, {0, "?:"}, {12, "?:"}, {-1, "?:"},
    };
    for (const auto& [quantity, prefix] : rows)
        EXPECT_EQ(SensorLimitsManager::unifiedSensorLocationForSensorDescription(descriptionOf(quantity, "X").get()),
                  QString::fromLatin1(prefix) + "X")
            << quantity;
    EXPECT_TRUE(SensorLimitsManager::unifiedSensorLocationForSensorDescription(nullptr).isNull());
}
