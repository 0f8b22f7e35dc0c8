#include "sensors/TEVSMCLightSensor.h"

#include "tests/sensors/SMCTestTable.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

TEST(TEVSMCLightSensor, RawValueByRepresentation)
{
    struct Row {
        const char* type;
        QByteArray bytes;
        qint64 raw;
    };
    const std::vector<Row> rows{
        {"{alv", QByteArray("\x00\x00\x01\x00\x00\x00", 6), 2},                    // decoded to 256, then shifted
        {"{alv", QByteArray("\x01\x01\x00\xee\x00\x6e\x00\x14\x4c\xba", 10), 238}, // raw data, unshifted
        {"ui16", smctest::ui16(0xffff), 511},
        {"ui32", QByteArray("\x00\x01\x00\x80", 4), 1}, // only the low 16 bits count
        {"{alv", QByteArray("\x00\x00\x01\x00", 4), -1},
        {"ch8*", QByteArray("bright"), -1},
    };
    auto table = std::make_shared<smctest::Table>();
    table->set("ALV1", "ui16", smctest::ui16(0x1000));
    const auto sensor = TEVSMCLightSensor::createForLightSensorWithKey("ALV1", smctest::controllerFor(table));
    ASSERT_TRUE(sensor);
    EXPECT_EQ(sensor->uniqueIdentifier(), "smc.light.2");
    EXPECT_EQ(sensor->locationIdentifier(), "SMC AMBIENT LIGHT 2");
    EXPECT_EQ(sensor->quantityType(), 8);
    EXPECT_EQ(sensor->unit(), " ");
    for (const auto& row : rows) {
        table->set("ALV1", row.type, row.bytes);
        kelvaro::test::clock()->advanceSeconds(2);
        EXPECT_EQ(sensor->rawValue(), row.raw) << row.type << " " << row.bytes.size();
    }
}

TEST(TEVSMCLightSensor, NeedsADigitKeyReadingAboveZero)
{
    auto table = std::make_shared<smctest::Table>();
    table->set("ALV0", "{alv", QByteArray("\x00\x00\x00\x40\x00\x00", 6)); // 64 >> 7 = 0
    table->set("ALV1", "{alv", QByteArray("\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00", 10));
    table->set("ALV2", "{alv", QByteArray("\x00\x00\x01\x00\x00\x00", 6));
    table->set("ALVX", "{alv", QByteArray("\x00\x00\x01\x00\x00\x00", 6));
    table->set("ALV3", "ch8*", QByteArray("\x01\x01\x01"));
    table->set("ALA0", "{alv", QByteArray("\x00\x00\x01\x00\x00\x00", 6));
    const auto smc = smctest::controllerFor(table);
    EXPECT_FALSE(TEVSMCLightSensor::createForLightSensorWithKey("ALVX", smc));
    EXPECT_FALSE(TEVSMCLightSensor::createForLightSensorWithKey("", smc));
    const auto sensors = TEVSMCLightSensor::allSensors(smc);
    ASSERT_EQ(sensors.size(), 1);
    EXPECT_EQ(sensors.front()->uniqueIdentifier(), "smc.light.3");
    EXPECT_EQ(sensors.front()->rawValue(), 2);
}
