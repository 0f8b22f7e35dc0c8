#include "platform/hardware/FixtureAtaSmartTransport.h"

#include "platform/foundation/Values.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cerrno>

using platform::FixtureAtaSmartTransport;

namespace {

QByteArray dataWith194(int celsius)
{
    QByteArray page(512, '\0');
    page[2] = char(194);
    page[7] = char(celsius);
    return page;
}

QVariantMap section(const QVariantMap& drive)
{
    return {{"Drives", QVariantMap{{"sda", drive}}}};
}

} // namespace

TEST(FixtureAtaSmartTransport, LoadErrorsNameTheKeyPath)
{
    const QByteArray page(512, '\0');
    const struct {
        QVariantMap ata;
        const char* error;
    } rows[] = {
        {{{"Disks", QVariantMap{}}}, "ATA: unknown key \"Disks\""},
        {{{"Drives", QVariantList{}}}, "ATA.Drives: not a dictionary"},
        {{{"Drives", QVariantMap{{"../sda", QVariantMap{}}}}}, "ATA.Drives.../sda: not a BSD name"},
        {section({{"Data", QByteArray(511, '\0')}}), "ATA.Drives.sda.Data: expected data of 512 bytes"},
        {section({{"ThresholdExceeded", 1}}), "ATA.Drives.sda.ThresholdExceeded: expected a boolean"},
        {section({{"Fail", QVariantList{"Data", "Spin"}}}), "ATA.Drives.sda.Fail: unknown operation"},
        {section({{"Colour", "red"}}), "ATA.Drives.sda: unknown key \"Colour\""},
        {section({{"Data", page}, {"TemperatureWander", QVariantMap{{"Amplitude", 2.0}, {"Period", 60.0}}}}),
         "ATA.Drives.sda.TemperatureWander: the data page has no attribute 194"},
        {section({{"Data", dataWith194(40)}, {"TemperatureWander", QVariantMap{{"Amplitude", 2.0}, {"Period", 0.0}}}}),
         "ATA.Drives.sda.TemperatureWander: needs an Amplitude of 0-50 and a Period above 0 seconds"},
    };
    for (const auto& row : rows) {
        const auto loaded = FixtureAtaSmartTransport::fromSection(row.ata);
        EXPECT_FALSE(loaded.transport) << row.error;
        EXPECT_EQ(loaded.error, QString::fromUtf8(row.error));
    }
}

TEST(FixtureAtaSmartTransport, ServesPagesStatusAndFailureSwitches)
{
    const auto loaded = FixtureAtaSmartTransport::fromSection(section(
        {{"Data", dataWith194(40)}, {"ThresholdExceeded", true}, {"Fail", QVariantList{"Identify"}}}));
    ASSERT_TRUE(loaded.transport) << loaded.error.toStdString();
    const auto& transport = *loaded.transport;
    EXPECT_EQ(transport.open("sdb").error, ENODEV);
    auto connection = transport.open("sda").connection;
    ASSERT_TRUE(connection);
    EXPECT_TRUE(connection->enableOperations());
    EXPECT_EQ(connection->returnStatus(), std::optional<bool>(true));
    EXPECT_EQ(connection->readData(), dataWith194(40));
    EXPECT_FALSE(connection->identify());
    EXPECT_FALSE(connection->readThresholds()); // no page
    loaded.transport->setFailing("sda", FixtureAtaSmartTransport::Operation::Open, true);
    EXPECT_EQ(transport.open("sda").error, EACCES);
}

TEST(FixtureAtaSmartTransport, TemperatureWandersDeterministicallyWithinItsAmplitude)
{
    const auto loaded = FixtureAtaSmartTransport::fromSection(
        section({{"Data", dataWith194(40)}, {"TemperatureWander", QVariantMap{{"Amplitude", 3.0}, {"Period", 600.0}}}}));
    ASSERT_TRUE(loaded.transport) << loaded.error.toStdString();
    QSet<int> seen;
    for (int step = 0; step < 60; ++step) {
        const auto page = loaded.transport->answer("sda", FixtureAtaSmartTransport::Operation::Data);
        ASSERT_TRUE(page);
        const int t = quint8(page->at(7));
        EXPECT_GE(t, 37);
        EXPECT_LE(t, 43);
        EXPECT_EQ(page->at(8), 0);
        seen.insert(t);
        EXPECT_EQ(loaded.transport->answer("sda", FixtureAtaSmartTransport::Operation::Data), page); // clock still
        kelvaro::test::clock()->advanceSeconds(10);
    }
    EXPECT_EQ(seen.size(), 7);
}
