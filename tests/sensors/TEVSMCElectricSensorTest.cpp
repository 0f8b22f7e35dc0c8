#include "sensors/TEVSMCElectricSensor.h"

#include "sensors/TEVSensorValueConverter.h"
#include "tests/sensors/SMCTestTable.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

using smctest::fixed;

TEST(TEVSMCElectricSensor, OnlyNonNegativeFractionalReadingsBecomeSensors)
{
    struct Row {
        const char* key;
        const char* type;
        QByteArray bytes;
        const char* location;
        bool made;
    };
    const std::vector<Row> rows{
        {"VC0C", "fp4c", fixed(1.25, 12), "SMC CPU A", true},
        {"VC0C", "ui16", smctest::ui16(12), "SMC CPU A", false}, // integer keys never
        {"VC0C", "sp4b", fixed(-0.5, 11), "SMC CPU A", false},
        {"VC0C", "sp4b", fixed(0, 11), "SMC CPU A", true},
        {"IG0R", "flt ", smctest::flt(0.05f), "SMC GPU SUPPLY", false}, // an idle GPU line
        {"IG0R", "flt ", smctest::flt(0.2f), "SMC GPU SUPPLY", true},
        {"IG0R", "flt ", smctest::flt(0.05f), "SMC GRAPHICS CARD A 12V LINE", true},
        {"PC0R", "hex_", QByteArray(2, 1), "SMC CPU HIGH SIDE", false},
        {"PC0R", "flt ", smctest::flt(std::nanf("")), "SMC CPU HIGH SIDE", false},
    };
    for (const auto& row : rows) {
        auto table = std::make_shared<smctest::Table>();
        table->set(row.key, row.type, row.bytes);
        const auto sensor = TEVSMCElectricSensor::createWithSensorDescription(
            smctest::description(row.key, "smc.voltage.x", row.location, 2), smctest::controllerFor(table));
        EXPECT_EQ(bool(sensor), row.made) << row.key << " " << row.type << " " << row.location;
    }
}

TEST(TEVSMCElectricSensor, RawValueIsSixteenDotSixteenFixedPoint)
{
    auto table = std::make_shared<smctest::Table>();
    table->set("VD0R", "flt ", smctest::flt(12.1f));
    const auto sensor = TEVSMCElectricSensor::createWithSensorDescription(
        smctest::description("VD0R", "smc.voltage.ET3", "SMC DC INPUT", 2), smctest::controllerFor(table));
    ASSERT_TRUE(sensor);
    EXPECT_EQ(sensor->rawValue(), 792985);
    EXPECT_EQ(sensor->value(), 12.099990844726562);
    EXPECT_EQ(sensor->valueConverter()->functionType(), TEVSensorValueConverter::LinearFactor);
    EXPECT_EQ(sensor->precision(), 0.0);

    table->set("VD0R", "flt ", smctest::flt(NAN));
    kelvaro::test::clock()->advanceSeconds(2);
    EXPECT_EQ(sensor->rawValue(), -1);
    table->set("VD0R", "flt ", smctest::flt(1e30f)); // beyond 64 bits once scaled
    kelvaro::test::clock()->advanceSeconds(2);
    EXPECT_EQ(sensor->rawValue(), -1);
    table->fail("VD0R");
    kelvaro::test::clock()->advanceSeconds(2);
    EXPECT_EQ(sensor->rawValue(), -1);
}

TEST(TEVSMCElectricSensor, UnitAndQuantityFollowTheDescription)
{
    const std::vector<std::pair<qint64, const char*>> rows{{2, "V"}, {3, "A"}, {4, "W"}, {7, ""}};
    for (const auto& [quantity, unit] : rows) {
        auto table = std::make_shared<smctest::Table>();
        table->set("PC0R", "sp87", fixed(3.5, 7));
        const auto sensor = TEVSMCElectricSensor::createWithSensorDescription(
            smctest::description("PC0R", "smc.power.DT3", "SMC CPU HIGH SIDE", quantity), smctest::controllerFor(table));
        ASSERT_TRUE(sensor);
        EXPECT_EQ(sensor->quantityType(), quantity);
        EXPECT_EQ(sensor->unit(), unit);
        EXPECT_FALSE(sensor->unit().isNull());
    }
}

TEST(TEVSMCElectricSensor, EnumeratesKnownVoltageCurrentAndPowerKeys)
{
    auto table = std::make_shared<smctest::Table>();
    for (const char* key : {"VC0C", "IC0R", "PC0R", "TC0P", "FC0R", "VZ9Z"})
        table->set(key, "sp78", fixed(1.5, 8));
    std::vector<QVariantMap> known;
    for (const char* key : {"VC0C", "IC0R", "PC0R", "TC0P", "FC0R"})
        known.push_back(smctest::description(key, key, "SMC SOMEWHERE", 2));
    QStringList found;
    for (const auto& sensor : TEVSMCElectricSensor::allSensors(smctest::controllerFor(table), smctest::lookup(known)))
        found.append(sensor->uniqueIdentifier());
    EXPECT_EQ(found, (QStringList{"VC0C", "IC0R", "PC0R"}));
}
