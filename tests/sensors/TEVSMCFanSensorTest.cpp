#include "sensors/TEVSMCFanSensor.h"

#include "tests/sensors/SMCTestTable.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

using smctest::fds;
using smctest::fixed;

namespace {

// Fan <c> with actual, minimum and maximum speed keys in fpe2 (rpm × 4).
void addFan(smctest::Table& table, char c, double actual = 2000, double minimum = 1200, double maximum = 6200)
{
    const std::string f(1, c);
    table.set(("F" + f + "Ac").c_str(), "fpe2", fixed(actual, 2));
    table.set(("F" + f + "Mn").c_str(), "fpe2", fixed(minimum, 2));
    table.set(("F" + f + "Mx").c_str(), "fpe2", fixed(maximum, 2));
}

QStringList identifiers(const TEVSensorList& sensors)
{
    QStringList ids;
    for (const auto& sensor : sensors)
        ids.append(sensor->uniqueIdentifier());
    return ids;
}

} // namespace

TEST(TEVSMCFanSensor, FanWithoutMaximumKeyIsLeftOut)
{
    auto table = std::make_shared<smctest::Table>();
    table->set("FNum", "ui8 ", QByteArray(1, '\x02'));
    addFan(*table, '0');
    addFan(*table, '1');
    table->remove("F1Mx");
    const auto fans = TEVSMCFanSensor::allSensors(smctest::controllerFor(table));
    EXPECT_EQ(identifiers(fans), QStringList{"smc.fan.0"});
}

TEST(TEVSMCFanSensor, NoFanCountMeansNoFans)
{
    auto table = std::make_shared<smctest::Table>();
    addFan(*table, '0');
    EXPECT_TRUE(TEVSMCFanSensor::allSensors(smctest::controllerFor(table)).isEmpty());
    table->set("FNum", "hex_", QByteArray(1, '\x01')); // raw data, not a number
    EXPECT_TRUE(TEVSMCFanSensor::allSensors(smctest::controllerFor(table)).isEmpty());
    EXPECT_TRUE(TEVSMCFanSensor::allSensors(nullptr).isEmpty());
}

TEST(TEVSMCFanSensor, IdentityComesFromTheTrimmedNameElseTheIndex)
{
    struct Row {
        const char* type;
        QByteArray bytes; // empty: no identification key
        const char* identifier;
        const char* location;
    };
    const std::vector<Row> rows{
        {"{fds", fds("Exhaust   "), "smc.fan.Exhaust", "SMC FAN Exhaust"},
        {"{fds", fds(" Left side  "), "smc.fan.Left side", "SMC FAN Left side"},
        {"{fds", {}, "smc.fan.0", "SMC FAN 0"},
        {"{fds", fds("    "), "smc.fan.0", "SMC FAN 0"}, // trims to nothing
        {"{fds", fds(""), "smc.fan.0", "SMC FAN 0"},
        {"ui8 ", QByteArray(1, '\x07'), "smc.fan.0", "SMC FAN 0"}, // not a text
    };
    for (const auto& row : rows) {
        auto table = std::make_shared<smctest::Table>();
        addFan(*table, '0');
        if (!row.bytes.isEmpty())
            table->set("F0ID", row.type, row.bytes);
        const auto fan = TEVSMCFanSensor::createForFanAtIndex(0, smctest::controllerFor(table));
        ASSERT_TRUE(fan) << row.identifier;
        EXPECT_EQ(fan->uniqueIdentifier(), row.identifier);
        EXPECT_EQ(fan->locationIdentifier(), row.location);
        EXPECT_EQ(fan->unifiedSensorLocation(), QStringLiteral("R:") + row.location);
    }
}

TEST(TEVSMCFanSensor, IdentifiersStayUniqueWhenNamesRepeat)
{
    auto table = std::make_shared<smctest::Table>();
    table->set("FNum", "ui8 ", QByteArray(1, '\x04'));
    for (char c : {'0', '1', '2', '3'})
        addFan(*table, c);
    table->set("F0ID", "{fds", fds("Exhaust"));
    table->set("F1ID", "{fds", fds("Exhaust ")); // same name once trimmed: index form
    table->set("F2ID", "{fds", fds("3"));        // takes fan 3's index form
    const auto fans = TEVSMCFanSensor::allSensors(smctest::controllerFor(table));
    EXPECT_EQ(identifiers(fans), (QStringList{"smc.fan.Exhaust", "smc.fan.1", "smc.fan.3"}));
    EXPECT_EQ(fans.at(1)->locationIdentifier(), "SMC FAN 1");
}

TEST(TEVSMCFanSensor, IndexCharacterIsADigitThenACapitalLetter)
{
    auto table = std::make_shared<smctest::Table>();
    addFan(*table, '9');
    addFan(*table, 'A');
    addFan(*table, 'C');
    addFan(*table, 'Z');
    const auto smc = smctest::controllerFor(table);
    const std::vector<std::pair<quint64, char>> rows{{9, '9'}, {10, 'A'}, {12, 'C'}, {35, 'Z'}};
    for (const auto& [index, character] : rows) {
        const auto fan = TEVSMCFanSensor::createForFanAtIndex(index, smc);
        ASSERT_TRUE(fan) << index;
        EXPECT_EQ(fan->fanCode(), QLatin1Char(character));
        EXPECT_EQ(fan->uniqueIdentifier(), QStringLiteral("smc.fan.%1").arg(index));
    }
    EXPECT_FALSE(TEVSMCFanSensor::createForFanAtIndex(36, smc));
    EXPECT_FALSE(TEVSMCFanSensor::createForFanAtIndex(1, smc)); // no F1 keys
}

TEST(TEVSMCFanSensor, ReadsWholeRevolutionsAndMinusOneForNoReading)
{
    auto table = std::make_shared<smctest::Table>();
    addFan(*table, '0', 1999.75);
    const auto fan = TEVSMCFanSensor::createForFanAtIndex(0, smctest::controllerFor(table));
    ASSERT_TRUE(fan);
    EXPECT_EQ(fan->rawValue(), 1999);
    EXPECT_EQ(fan->value(), 1999.0);
    EXPECT_EQ(fan->unit(), "RPM");
    EXPECT_EQ(fan->quantityType(), 6);
    EXPECT_EQ(fan->sensorType(), 1);
    EXPECT_EQ(fan->precision(), 0.25);
    EXPECT_EQ(fan->sensorName(), "Apple System Management Controller");

    table->fail("F0Ac");
    kelvaro::test::clock()->advanceSeconds(2); // past the value cache
    EXPECT_EQ(fan->rawValue(), -1);
    table->remove("F0Ac");
    kelvaro::test::clock()->advanceSeconds(2);
    EXPECT_EQ(fan->rawValue(), -1);
}

TEST(TEVSMCFanSensor, LimitsNeedBothSpeedsAsNumbers)
{
    auto table = std::make_shared<smctest::Table>();
    addFan(*table, '0', 2000, 1200, 6200);
    const auto fan = TEVSMCFanSensor::createForFanAtIndex(0, smctest::controllerFor(table));
    ASSERT_TRUE(fan);
    EXPECT_EQ(fan->sensorLimitsArray(), (QVariantList{6200.0, 1200.0}));
    table->set("F0Mn", "hex_", QByteArray(2, '\x01'));
    kelvaro::test::clock()->advanceSeconds(2);
    EXPECT_FALSE(fan->sensorLimitsArray());
}
