#include "sensors/TEVSMCTemperatureSensor.h"

#include "tests/sensors/SMCTestTable.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

using smctest::fixed;

TEST(TEVSMCTemperatureSensor, ReadsWholeDegreesAndTheNoReadingBandAsMinusOne)
{
    struct Row {
        const char* type;
        QByteArray bytes;
        qint64 raw;
    };
    const std::vector<Row> rows{
        {"sp78", fixed(45.75, 8), 45},
        {"sp78", fixed(-123, 8), -123},
        {"sp78", fixed(-123.5, 8), -123},
        {"sp78", fixed(-124, 8), -1},
        {"sp78", fixed(-126, 8), -1},
        {"sp78", fixed(-128, 8), -1},
        {"flt ", smctest::flt(-129.0f), -129},
        {"sp78", fixed(0, 8), 0},
        {"hex_", QByteArray(2, '\x10'), -1},
    };
    auto table = std::make_shared<smctest::Table>();
    table->set("TC0P", "sp78", fixed(40, 8));
    const auto sensor = TEVSMCTemperatureSensor::createWithSensorDescription(
        smctest::description("TC0P", "smc.temperature.DQ3", "SMC CPU A PROXIMITY"), smctest::controllerFor(table));
    ASSERT_TRUE(sensor);
    for (const auto& row : rows) {
        table->set("TC0P", row.type, row.bytes);
        kelvaro::test::clock()->advanceSeconds(2);
        EXPECT_EQ(sensor->rawValue(), row.raw) << row.raw;
    }
    table->remove("TC0P");
    kelvaro::test::clock()->advanceSeconds(2);
    EXPECT_EQ(sensor->rawValue(), -1);
}

TEST(TEVSMCTemperatureSensor, EnumeratesKnownTemperatureKeysReadingAboveZero)
{
    auto table = std::make_shared<smctest::Table>();
    table->set("TC0P", "sp78", fixed(45.75, 8));
    table->set("TB0T", "sp78", fixed(0, 8));     // not reading yet
    table->set("TA0P", "sp78", fixed(-20, 8));   // below zero at enumeration
    table->set("TZ9Z", "sp78", fixed(30, 8));    // not known for this model
    table->set("TH0P", "hex_", QByteArray(2, 1)); // no number
    table->set("TC1P", "flt ", smctest::flt(std::nanf(""))); // no reading either
    table->set("VC0C", "sp78", fixed(30, 8));    // described, but no temperature key
    const auto known = smctest::lookup({
        smctest::description("TC0P", "smc.temperature.DQ3", "SMC CPU A PROXIMITY"),
        smctest::description("TB0T", "smc.temperature.CV3", "SMC BATTERY"),
        smctest::description("TA0P", "smc.temperature.BR3", "SMC AMBIENT AIR"),
        smctest::description("TH0P", "smc.temperature.IR3", "SMC DRIVE BAY 1"),
        smctest::description("VC0C", "smc.temperature.DE3", "SMC CPU A"),
        smctest::description("TC1P", "smc.temperature.DQ4", "SMC CPU B PROXIMITY"),
    });
    const auto sensors = TEVSMCTemperatureSensor::allSensors(smctest::controllerFor(table), known);
    ASSERT_EQ(sensors.size(), 1);
    const auto& sensor = *sensors.front();
    EXPECT_EQ(sensor.uniqueIdentifier(), "smc.temperature.DQ3");
    EXPECT_EQ(sensor.locationIdentifier(), "SMC CPU A PROXIMITY");
    EXPECT_EQ(sensor.rawValue(), 45);
    EXPECT_EQ(sensor.unit(), "C");
    EXPECT_EQ(sensor.quantityType(), 1);
    EXPECT_EQ(sensor.precision(), 1.0);
    EXPECT_EQ(sensor.sensorName(), "Apple System Management Controller");
    EXPECT_TRUE(TEVSMCTemperatureSensor::allSensors(nullptr, known).isEmpty());
}
